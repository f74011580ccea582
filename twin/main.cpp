// zorvik-discover: the window's discovery for scripts and machines without a
// desktop. The same logic and endpoint as the window, with console controls,
// on an event loop of its own: no toolkit.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "posix_event_loop.hpp"
#include "posix_timer.hpp"
#include "posix_waker.hpp"
#include "receive_buffer_option.hpp"
#include "standard_streams.hpp"
#include "stop_signals.hpp"
#include "twin_main.hpp"

int main(int argc, char** argv) {
    using namespace zorvik;
    const auto printError = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
    // Before the endpoint or the loop opens a descriptor that could take number 1.
    if (openStandardStreams().output) {
        printError(std::string(kTwinName) + ": error " + std::to_string(EBADF) + ": standard output is closed\n");
        return kFailureStatus;
    }
    PosixEventLoop loop;
    ReceiveBufferOption startupOption;
    return runTwin(
        argc, argv,
        {.output =
             [](std::string_view text) {
                 // Asked to stop while nothing can be written, the rest is left: the stop comes next.
                 const int error = writeAll(STDOUT_FILENO, text, stopRequestDescriptor());
                 if (error != 0 && error != ECANCELED) throw Failure::fromErrno(error);
             },
         .error = printError,
         .runEventLoop = [&loop] { loop.run(); },
         .leaveEventLoop = [&loop](int status) { loop.quit(status); },
         .dropHelp = "see RECEIVE BUFFER in zorvik-discover(1)",
         .errorIsTerminal = ::isatty(STDERR_FILENO) == 1,
         .readMore = "FIREWALL in man zorvik-discover",
         .onStopRequest = [&loop](std::function<void()> stop) { onStopSignal(loop, std::move(stop)); }},
        {.endpointParts = [&loop] { return posixEndpointParts(loop); },
         .timer = [&loop](std::function<void()> onTimer) { return std::make_shared<PosixTimer>(loop, std::move(onTimer)); },
         .startupOption = startupOption});
}

// zorvik-discover: the window's discovery for scripts and machines without a
// desktop. The same logic and endpoint as the window, with console controls.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <QCoreApplication>

#include "qt_timer.hpp"
#include "receive_buffer_option.hpp"
#include "standard_streams.hpp"
#include "stop_request.hpp"
#include "stop_request_posix.hpp"
#include "twin_main.hpp"
#include "qt_waker.hpp"

int main(int argc, char** argv) {
    using namespace zorvik;
    const auto printError = [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
    // Before Qt or the endpoint opens a descriptor that could take number 1.
    if (openStandardStreams().output) {
        printError(std::string(kTwinName) + ": error " + std::to_string(EBADF) + ": standard output is closed\n");
        return kFailureStatus;
    }
    QCoreApplication app(argc, argv);
    return runTwin<QtTimer, ReceiveBufferOption>(
        argc, argv,
        {.output =
             [](std::string_view text) {
                 // Asked to stop while nothing can be written, the rest is left: the stop comes next.
                 const int error = writeAll(STDOUT_FILENO, text, stopRequestDescriptor());
                 if (error != 0 && error != ECANCELED) throw Failure::fromErrno(error);
             },
         .error = printError,
         .runEventLoop = [] { QCoreApplication::exec(); },
         .leaveEventLoop = [](int status) { QCoreApplication::exit(status); },
         .dropHelp = "see RECEIVE BUFFER in zorvik-discover(1)",
         .errorIsTerminal = ::isatty(STDERR_FILENO) == 1,
         .readMore = "FIREWALL in man zorvik-discover",
         .onStopRequest = onStopRequest},
        qtEndpointParts());
}

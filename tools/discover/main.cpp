// zorvik-discover: the window's discovery for scripts and machines without a
// desktop. The same logic and endpoint as the window, with console controls.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <QCoreApplication>

#include "console_controls.hpp"
#include "event_dispatch.hpp"
#include "form1.hpp"
#include "protocol.hpp"
#include "qt_timer.hpp"
#include "receive_buffer_option.hpp"
#include "standard_streams.hpp"
#include "udp_endpoint.hpp"

namespace {

constexpr int kFoundStatus = 0;
constexpr int kNoneFoundStatus = 1;
constexpr int kFailureStatus = 2;

void report(int number, const std::string& description) {
    std::fprintf(stderr, "error %d: %s\n", number, description.c_str());
}

std::string usage() {
    using namespace zorvik::protocol;
    return "Usage: zorvik-discover [--help | --version]\n"
           "Sends one discovery probe to " + std::string(kGroup) + " port " + std::to_string(kPort) +
           " and prints\n\"" + std::string(kResultPrefix) + "ADDRESS\" for every answer, as it arrives, for " +
           std::to_string(kListeningPeriodMs) + " ms.\n"
           "Exit status: 0 if any device answered, 1 if none, 2 on a failure.\n";
}

// Help and version go to standard output; a failed write is a failure too.
int print(const std::string& text) {
    if (const int error = zorvik::writeAll(STDOUT_FILENO, text)) {
        report(error, std::strerror(error));
        return kFailureStatus;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik;
    // Before Qt or the endpoint opens a descriptor that could take number 1.
    if (openStandardStreams().output) {
        report(EBADF, "standard output is closed");
        return kFailureStatus;
    }
    std::string_view request;  // --help or --version, which must come alone
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (request.empty() && (arg == "--help" || arg == "-h" || arg == "--version")) {
            request = arg;
            continue;
        }
        std::fprintf(stderr, "zorvik-discover: unexpected argument '%s'\n%s", argv[i], usage().c_str());
        return kFailureStatus;
    }
    if (request == "--version") {
        return print("zorvik-discover (" + std::string(protocol::kProductName) + ") " +
                     std::string(protocol::kVersion) + "\n");
    }
    if (!request.empty()) return print(usage());

    QCoreApplication app(argc, argv);
    int status = kFailureStatus;

    ConsoleButton cmdDiscover;
    ConsoleResults txtResults(STDOUT_FILENO);
    UdpEndpoint Winsock1;
    ReceiveBufferOption startupOption;
    std::function<void()> onTimer;
    QtTimer tmrResetCaption([&] { onTimer(); });

    EventDispatch dispatch(
        [&] {
            Winsock1.stop();
            tmrResetCaption.stop();
        },
        [](const Failure& failure) { report(failure.number(), failure.description()); },
        [&](int endStatus) {
            status = endStatus;
            QCoreApplication::exit(endStatus);
        },
        kFailureStatus);

    Form1 form({cmdDiscover, txtResults, tmrResetCaption, Winsock1, startupOption, dispatch});
    Winsock1.runThrough([&](const std::function<void()>& callback) { dispatch.deliver(callback); });
    Winsock1.onDataArrival(
        [&](std::int32_t bytesTotal) { dispatch.deliver([&] { form.Winsock1_DataArrival(bytesTotal); }); });
    // The listening period is over: list what has already arrived, then stop.
    // All of it through the dispatch, so even taking in the last answers may fail cleanly.
    onTimer = [&] {
        dispatch.deliver([&] {
            Winsock1.deliverPending();
            if (dispatch.ended()) return;
            form.tmrResetCaption_Timer();
            dispatch.end(txtResults.linesWritten() > 0 ? kFoundStatus : kNoneFoundStatus);
        });
    };

    dispatch.deliver([&] { form.Form_Load(); });
    dispatch.deliver([&] { form.cmdDiscover_Click(); });
    if (dispatch.ended()) {
        return status;
    }
    QCoreApplication::exec();
    return status;
}

// zorvik-discover: the window's discovery for scripts and machines without a
// desktop. The same logic and endpoint as the window, with console controls.
#include <cstdio>
#include <cstring>
#include <string_view>

#include <QCoreApplication>

#include "console_controls.hpp"
#include "event_dispatch.hpp"
#include "form1.hpp"
#include "protocol.hpp"
#include "qt_timer.hpp"
#include "receive_buffer_option.hpp"
#include "udp_endpoint.hpp"

namespace {

constexpr int kFoundStatus = 0;
constexpr int kNoneFoundStatus = 1;
constexpr int kFailureStatus = 2;

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: zorvik-discover [--help] [--version]\n"
                 "Sends one discovery probe to %.*s port %d and prints\n"
                 "\"%.*sADDRESS\" for every answer, as it arrives, for %d ms.\n"
                 "Exit status: 0 if any device answered, 1 if none, 2 on a failure.\n",
                 static_cast<int>(zorvik::protocol::kGroup.size()), zorvik::protocol::kGroup.data(),
                 zorvik::protocol::kPort, static_cast<int>(zorvik::protocol::kResultPrefix.size()),
                 zorvik::protocol::kResultPrefix.data(), zorvik::protocol::kListeningPeriodMs);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("zorvik-discover (%.*s) %.*s\n", static_cast<int>(protocol::kProductName.size()),
                        protocol::kProductName.data(), static_cast<int>(protocol::kVersion.size()),
                        protocol::kVersion.data());
            return 0;
        }
        std::fprintf(stderr, "zorvik-discover: unknown argument '%s'\n", argv[i]);
        printUsage(stderr);
        return kFailureStatus;
    }

    QCoreApplication app(argc, argv);
    int status = kFailureStatus;

    ConsoleButton cmdDiscover;
    ConsoleResults txtResults(stdout);
    UdpEndpoint Winsock1;
    ReceiveBufferOption startupOption;
    std::function<void()> onTimer;
    QtTimer tmrResetCaption([&] { onTimer(); });

    EventDispatch dispatch(
        [&] {
            Winsock1.stop();
            tmrResetCaption.stop();
        },
        [](const Failure& failure) {
            std::fprintf(stderr, "error %d: %s\n", failure.number(), failure.description().c_str());
        },
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
    onTimer = [&] {
        Winsock1.deliverPending();
        dispatch.deliver([&] { form.tmrResetCaption_Timer(); });
        if (!dispatch.ended()) {
            dispatch.end(txtResults.linesWritten() > 0 ? kFoundStatus : kNoneFoundStatus);
        }
    };

    dispatch.deliver([&] { form.Form_Load(); });
    dispatch.deliver([&] { form.cmdDiscover_Click(); });
    if (dispatch.ended()) {
        return status;
    }
    QCoreApplication::exec();
    return status;
}

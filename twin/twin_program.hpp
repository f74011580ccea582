#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "console_results.hpp"
#include "device_tally.hpp"
#include "device_watch.hpp"
#include "event_dispatch.hpp"
#include "form1.hpp"
#include "interface_names.hpp"
#include "network_interfaces.hpp"
#include "timer_control.hpp"
#include "twin_options.hpp"
#include "udp_endpoint.hpp"

namespace zorvik {

// What the command-line program's entry point gives it on either platform.
struct TwinConsole {
    ConsoleResults::Writer output;
    std::function<void(std::string_view text)> error;  // never throws
    std::function<void()> runEventLoop;                // until leaveEventLoop
    std::function<void(int status)> leaveEventLoop;
    std::string_view newline = "\n";                   // the platform's line end in text output
    std::string_view dropHelp;                         // where the receive buffer is explained
    // Whether a person reads standard error, and where they read about firewalls.
    bool errorIsTerminal = false;
    std::string_view readMore = "Firewall in the README";
    // Has `stop` called through the event loop once the user asks the program
    // to stop (SIGINT or SIGTERM, Ctrl+C); asked only by a watch.
    std::function<void(std::function<void()> stop)> onStopRequest;
    // The name of the interface with an index, for the records.
    InterfaceNames::Lookup interfaceName = interfaceNameOf;
};

// The command-line program on either platform, short of its entry point: the
// window's logic with console controls. It presses Discover once per probe
// (--probes of them, 200 ms apart) and listens for the wait after the last.
// Alone, it lists every answer that arrives, or what --details or --count ask
// for when the wait ends, and then ends with status 0 if any device answered,
// 1 if none, 2 on a failure. Watching, it does so every round and prints only
// the devices that appeared or are gone, until it is stopped, with status 0.
class TwinProgram {
public:
    struct Parts {
        UdpEndpoint& endpoint;
        TimerControl& timer;  // fires periodOver()
        StartupSocketOption& startupOption;
    };
    TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                EventDispatch::Reporter report);

    // Loads the form and sends the first probe; false if the program has ended already.
    bool start();
    // The timer's period is over: the next probe, the end of the wait, or the next round.
    void periodOver();

    int status() const noexcept { return status_; }
    Shown shown() const noexcept { return shown_; }

private:
    enum class Phase { Probing, Listening, BetweenRounds };

    void startRound();
    void sendProbe();
    void endRound();
    void finish();
    // Each answer as it arrives, before the window's logic lists its line.
    void answered(const ReceivedDatagram& answer);
    void listRecord(const ReceivedDatagram& answer);
    std::string summary();
    void note(const std::string& text);

    TwinOptions options_;
    Shown shown_;
    Parts parts_;
    TwinConsole console_;
    int status_ = kFailureStatus;
    ConsoleButton cmdDiscover_;
    ConsoleResults txtResults_;
    EventDispatch dispatch_;
    Form1 form_;
    Phase phase_ = Phase::Probing;
    std::int32_t probesSent_ = 0;
    std::chrono::steady_clock::time_point roundStart_;
    bool anyAnswer_ = false;
    bool lineDue_ = false;  // the line the logic lists for this answer is shown
    DeviceTally tally_;
    InterfaceNames interfaces_;
    DeviceWatch watch_;
    std::string record_;
    bool capNoted_ = false;
};

}  // namespace zorvik

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "console_results.hpp"
#include "device_tally.hpp"
#include "device_watch.hpp"
#include "event_dispatch.hpp"
#include "record_format.hpp"
#include "form1.hpp"
#include "interface_names.hpp"
#include "network_interfaces.hpp"
#include "known_devices.hpp"
#include "maker_table.hpp"
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
// With `known` devices, each answer is marked known (with its label) or new,
// the known that did not answer are listed as missing, and the status is 3
// when some are; watching, those missing after the first round are gone.
class TwinProgram {
public:
    struct Parts {
        UdpEndpoint& endpoint;
        TimerControl& timer;  // fires periodOver()
        StartupSocketOption& startupOption;
        const MakerTable* makers = nullptr;  // --maker-dir's, else the installed ones
    };
    TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                EventDispatch::Reporter report, std::optional<Inventory> known = std::nullopt);

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
    // The probe of this round most recently sent before `arrived` (0 the first).
    int probeBefore(std::chrono::steady_clock::time_point arrived) const;
    void listRecord(const ReceivedDatagram& answer);
    std::string summary();
    // Replaces the --prometheus file, if asked for, with what the wait or round found.
    void writePrometheus();
    void note(const std::string& text);
    // With --known: the fields that say which, and the missing devices' output.
    void appendKnownFields(std::vector<Field>& fields, const KnownDevice* device, std::string_view status) const;
    std::string missingOutput() const;

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
    std::vector<std::chrono::steady_clock::time_point> probeTimes_;  // of this round's probes
    bool retried_ = false;  // this round has been probed again for being silent
    bool anyAnswer_ = false;
    bool lineDue_ = false;  // the line the logic lists for this answer is shown
    DeviceTally tally_;
    InterfaceNames interfaces_;
    DeviceWatch watch_;
    std::string record_;
    bool capNoted_ = false;
    std::optional<Inventory> known_;
    const KnownDevice* answerKnown_ = nullptr;  // the known device of the answer being listed
    bool firstRoundEnded_ = false;
    std::uint64_t answers_ = 0;
};

}  // namespace zorvik

#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "arrival_queue.hpp"
#include "console_results.hpp"
#include "event_dispatch.hpp"
#include "form1.hpp"
#include "timer_control.hpp"
#include "twin_options.hpp"

namespace zorvik {

// What the command-line program's entry point gives it on either platform.
struct TwinConsole {
    ConsoleResults::Writer output;
    std::function<void(std::string_view text)> error;  // never throws
    std::function<void()> runEventLoop;                // until leaveEventLoop
    std::function<void(int status)> leaveEventLoop;
    std::string_view newline = "\n";                   // the platform's line end in text output
    std::string_view dropHelp;                         // where the receive buffer is explained
};

// The command-line program on either platform, short of its entry point: the
// window's logic with console controls, one discovery, then the end. It lists
// every answer that arrives within the listening period and then ends with
// status 0 if there was any, 1 if none, 2 on a failure.
class TwinProgram {
public:
    struct Parts {
        ArrivalQueue& endpoint;
        TimerControl& timer;  // fires periodOver()
        StartupSocketOption& startupOption;
    };
    TwinProgram(const TwinOptions& options, Parts parts, const TwinConsole& console,
                EventDispatch::Reporter report);

    // Loads the form and sends the probe; false if the program has ended already.
    bool start();
    // The listening period is over: lists what has arrived by now, then ends.
    void periodOver();

    int status() const noexcept { return status_; }

private:
    struct Arrival {
        std::int32_t bytes = 0;
        std::uint16_t port = 0;
        std::int64_t ms = 0;
    };

    void format(std::string_view line, std::string& out);

    TwinOptions options_;
    Parts parts_;
    std::string_view newline_;
    int status_ = kFailureStatus;
    ConsoleButton cmdDiscover_;
    ConsoleResults txtResults_;
    EventDispatch dispatch_;
    Form1 form_;
    std::chrono::steady_clock::time_point probeSent_;
    Arrival current_;
    std::set<std::string, std::less<>> listed_;
};

}  // namespace zorvik

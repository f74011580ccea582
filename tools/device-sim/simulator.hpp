#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "interface_guard.hpp"
#include "options.hpp"
#include "stop_signals.hpp"
#include "unique_fd.hpp"

namespace zorvik::devicesim {

// Listens for probes on the group and answers each from every simulated host.
class Simulator {
public:
    // Binds and joins; once constructed, the simulator receives probes.
    Simulator(const Options& options, const Interface& interface, const StopSignals& stop);

    // Answers probes until a stop signal, or until the --probes count is answered.
    void run();

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        sockaddr_in prober;
    };

    void receiveProbes();
    enum class Sent { ok, proberUnreachable, stopped };

    // These return false when a stop signal arrives in the middle.
    bool answerDueProbes();
    bool answer(const sockaddr_in& prober);
    Sent send(std::size_t host, const sockaddr_in& prober);

    bool finished() const { return options_.probes && answered_ >= *options_.probes; }
    int millisecondsToNextDue() const;

    const Options& options_;
    const StopSignals& stop_;
    UniqueFd listener_;
    std::vector<UniqueFd> hosts_;
    std::deque<Pending> pending_;  // due times ascend: the delay is the same for all
    std::uint64_t accepted_ = 0;
    std::uint64_t answered_ = 0;
    std::uint64_t sent_ = 0;
};

}  // namespace zorvik::devicesim

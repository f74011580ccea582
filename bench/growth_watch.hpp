#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "measure.hpp"
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <stop_token>
#include <thread>

namespace zorvik::bench {

// The box keeps growing: while answers wait to be listed, lines are added at
// least every 100 ms. A thread of the harness looks every few milliseconds
// whether answers wait (the harness says how: taken in by the program and not
// listed, or queued in the system); the UI thread reports each addition of
// lines. The figure is the longest stretch with answers waiting and none added,
// from the first arrival on, so the wait for the first line counts too.

// The CPU time the calling thread has used, in milliseconds.
inline double threadCpuMs() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns ticks
#else
    rusage cpu{};
    getrusage(RUSAGE_THREAD, &cpu);
    return cpuMilliseconds(cpu);
#endif
}

class GrowthWatch {
public:
    using Clock = std::chrono::steady_clock;
    // Whether answers wait, given the lines listed so far; called on the watching thread.
    using Waiting = std::function<bool(long listed)>;

    explicit GrowthWatch(Waiting waiting)
        : waiting_(std::move(waiting)), watcher_([this](const std::stop_token& stop) { watch(stop); }) {}
    GrowthWatch(const GrowthWatch&) = delete;
    GrowthWatch& operator=(const GrowthWatch&) = delete;

    // On the UI thread: the box holds `lines` lines now.
    void listed(long lines) {
        if (lines <= listed_) return;
        const auto now = Clock::now().time_since_epoch().count();
        close(now);
        lastAddition_ = now;
        listed_ = lines;
    }

    // Stops watching; the longest stretch in milliseconds, one still open included.
    double stop() {
        watcher_.request_stop();
        watcher_.join();
        close(Clock::now().time_since_epoch().count());
        return std::chrono::duration<double, std::milli>(Clock::duration(longest_)).count();
    }

    // What the watching thread itself cost, to leave out of the program's CPU.
    double watcherCpuMilliseconds() const { return watcherCpuMs_; }

private:
    static constexpr Clock::rep kNever = std::numeric_limits<Clock::rep>::min();

    // Ends the stretch open at `now`, if answers were waiting.
    void close(Clock::rep now) {
        const Clock::rep waitingSince = waitingSince_;
        if (waitingSince == kNever) return;
        const Clock::rep since = std::max(waitingSince, lastAddition_);
        if (now > since) longest_ = std::max(longest_, now - since);
    }

    void watch(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            const bool waiting = waiting_(listed_);
            Clock::rep never = kNever;
            if (!waiting) {
                waitingSince_ = kNever;
            } else {
                waitingSince_.compare_exchange_strong(never, Clock::now().time_since_epoch().count());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        watcherCpuMs_ = threadCpuMs();
    }

    Waiting waiting_;
    std::atomic<long> listed_ = 0;
    std::atomic<Clock::rep> waitingSince_ = kNever;
    Clock::rep lastAddition_ = kNever;  // UI thread only
    Clock::rep longest_ = 0;            // UI thread only
    std::atomic<double> watcherCpuMs_ = 0;
    std::jthread watcher_;  // last: starts once the rest is in place
};

}  // namespace zorvik::bench

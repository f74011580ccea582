#pragma once

#include <functional>

#include "posix_event_loop.hpp"
#include "system_calls.hpp"
#include "timer_control.hpp"
#include "unique_fd.hpp"

namespace zorvik {

// The timer on a timerfd, firing through the POSIX event loop: once a turn
// however many periods the loop was kept from it, as a toolkit's timer does.
class PosixTimer final : public TimerControl {
public:
    // Throws Failure when the system gives no timerfd.
    PosixTimer(PosixEventLoop& loop, std::function<void()> onTimer, SystemCalls& calls = realSystemCalls());
    ~PosixTimer();
    PosixTimer(const PosixTimer&) = delete;
    PosixTimer& operator=(const PosixTimer&) = delete;

protected:
    void start(std::int32_t milliseconds) override;
    void cancel() override;

private:
    void ready();

    PosixEventLoop& loop_;
    std::function<void()> onTimer_;
    SystemCalls& calls_;
    UniqueFd timer_;
    bool armed_ = false;
};

}  // namespace zorvik

#include "posix_timer.hpp"

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "failure.hpp"

namespace zorvik {

PosixTimer::PosixTimer(PosixEventLoop& loop, std::function<void()> onTimer, SystemCalls& calls)
    : loop_(loop),
      onTimer_(std::move(onTimer)),
      calls_(calls),
      timer_(calls.timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), calls) {
    if (!timer_.valid()) {
        throw Failure::fromErrno(errno);
    }
    loop_.watch(timer_.get(), [this] { ready(); });
}

PosixTimer::~PosixTimer() { loop_.unwatch(timer_.get()); }

void PosixTimer::start(std::int32_t milliseconds) {
    TimerSetting every{};
    every.it_value.tv_sec = milliseconds / 1000;
    every.it_value.tv_nsec = static_cast<long>(milliseconds % 1000) * 1'000'000;
    every.it_interval = every.it_value;
    // Setting it discards the expirations not yet read: the period starts afresh.
    if (calls_.timerfd_settime(timer_.get(), 0, &every, nullptr) != 0) {
        throw Failure::fromErrno(errno);
    }
    armed_ = true;
}

void PosixTimer::cancel() {
    armed_ = false;  // fires no more even if disarming failed
    const TimerSetting never{};
    // Only a bad descriptor or value fails this, and neither is ours; a stop
    // that threw while the program ends would hide the failure that ends it.
    static_cast<void>(calls_.timerfd_settime(timer_.get(), 0, &never, nullptr));
}

void PosixTimer::ready() {
    std::uint64_t expirations = 0;
    if (calls_.read(timer_.get(), &expirations, sizeof expirations) < 0) {
        // Restarted or cancelled in this turn, after poll saw it expire.
        if (errno == EAGAIN || errno == EINTR) {
            return;
        }
        throw Failure::fromErrno(errno);
    }
    if (armed_) {
        onTimer_();
    }
}

}  // namespace zorvik

#include "posix_waker.hpp"

#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "failure.hpp"
#include "udp_socket.hpp"

namespace zorvik {

PosixWaker::PosixWaker(PosixEventLoop& loop, SystemCalls& calls)
    : loop_(loop), calls_(calls), event_(calls.eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), calls) {
    if (!event_.valid()) {
        throw Failure::fromErrno(errno);
    }
    loop_.watch(event_.get(), [this] { ready(); });
}

PosixWaker::~PosixWaker() { loop_.unwatch(event_.get()); }

void PosixWaker::wake() noexcept {
    const std::uint64_t one = 1;
    // A non-blocking eventfd takes this until its counter is near 2^64, which
    // the reads keep it far from; a signal cannot interrupt it either.
    static_cast<void>(calls_.write(event_.get(), &one, sizeof one));
}

void PosixWaker::wakeAfterInput() {
    loop_.post([this] {
        if (woken_) woken_();
    });
}

void PosixWaker::ready() {
    std::uint64_t wakes = 0;
    if (calls_.read(event_.get(), &wakes, sizeof wakes) < 0) {
        if (errno == EAGAIN || errno == EINTR) {
            return;
        }
        throw Failure::fromErrno(errno);
    }
    if (woken_) woken_();
}

EndpointParts posixEndpointParts(PosixEventLoop& loop, SystemCalls& calls) {
    return {std::make_unique<UdpSocket>(calls), std::make_unique<PosixWaker>(loop, calls), giveMemoryBack};
}

}  // namespace zorvik

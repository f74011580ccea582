#pragma once

#include <functional>

#include "posix_event_loop.hpp"
#include "system_calls.hpp"
#include "udp_endpoint.hpp"
#include "ui_waker.hpp"
#include "unique_fd.hpp"

namespace zorvik {

// The endpoint's way into the POSIX event loop: an eventfd that any thread
// makes readable, watched by the loop.
class PosixWaker final : public UiWaker {
public:
    // Throws Failure when the system gives no eventfd.
    explicit PosixWaker(PosixEventLoop& loop, SystemCalls& calls = realSystemCalls());
    ~PosixWaker() override;

    void connect(std::function<void()> woken) override { woken_ = std::move(woken); }
    void wake() noexcept override;
    // The loop gives every ready descriptor its turn, input or not.
    bool inputWaits() const override { return false; }
    void wakeAfterInput() override;

private:
    void ready();

    PosixEventLoop& loop_;
    SystemCalls& calls_;
    UniqueFd event_;
    std::function<void()> woken_;
};

// The endpoint's parts on Linux without a toolkit: the kernel's UDP socket and
// the loop's waker, both through `calls`.
EndpointParts posixEndpointParts(PosixEventLoop& loop, SystemCalls& calls = realSystemCalls());

}  // namespace zorvik

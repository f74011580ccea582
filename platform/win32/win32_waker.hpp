#pragma once

#include <functional>

#include "message_window.hpp"
#include "udp_endpoint.hpp"
#include "ui_waker.hpp"
#include "winsock_calls.hpp"

namespace zorvik::win32 {

// The endpoint's way into the message loop: a message posted to a message
// window of its own, and a timer, which Windows hands out only once input,
// painting and other timers have been.
class Win32Waker final : public UiWaker {
public:
    Win32Waker();

    void connect(std::function<void()> woken) override { woken_ = std::move(woken); }
    void wake() noexcept override;
    // Posted messages come before input, paint and timer messages, which
    // Windows makes only when nothing else waits.
    bool inputWaits() const override;
    void wakeAfterInput() override;

private:
    void onMessage(UINT message, WPARAM wParam);

    std::function<void()> woken_;
    MessageWindow window_;
};

// The endpoint's parts on Windows: a Winsock UDP socket through `calls`.
EndpointParts win32EndpointParts(WinsockCalls& calls = realWinsockCalls());

}  // namespace zorvik::win32

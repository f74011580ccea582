#include "win32_waker.hpp"

#include <malloc.h>

#include <memory>

#include "winsock_socket.hpp"

namespace zorvik::win32 {
namespace {

constexpr UINT kWakeMessage = WM_APP + 2;
constexpr UINT_PTR kAfterInputTimer = 1;

}  // namespace

Win32Waker::Win32Waker() : window_([this](UINT message, WPARAM wParam, LPARAM) { onMessage(message, wParam); }) {}

void Win32Waker::wake() noexcept { PostMessageW(window_.handle(), kWakeMessage, 0, 0); }

bool Win32Waker::inputWaits() const { return HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER)) != 0; }

// A timer message comes last, after everything that waits now.
void Win32Waker::wakeAfterInput() { SetTimer(window_.handle(), kAfterInputTimer, USER_TIMER_MINIMUM, nullptr); }

void Win32Waker::onMessage(UINT message, WPARAM wParam) {
    if (message == WM_TIMER && wParam == kAfterInputTimer) {
        KillTimer(window_.handle(), kAfterInputTimer);
        woken_();
    } else if (message == kWakeMessage) {
        woken_();
    }
}

EndpointParts win32EndpointParts(WinsockCalls& calls) {
    return {std::make_unique<WinsockSocket>(calls), std::make_unique<Win32Waker>(),
            []() noexcept { static_cast<void>(_heapmin()); }};
}

}  // namespace zorvik::win32

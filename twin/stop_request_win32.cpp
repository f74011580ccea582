#include <windows.h>

#include <atomic>
#include <memory>

#include "message_window.hpp"
#include "stop_request.hpp"
#include "system_error.hpp"

namespace zorvik {
namespace {

std::atomic<HWND> stopWindow{nullptr};

// Runs on a thread of its own, which the system starts for the event: it only
// posts a message to the one message loop. TRUE keeps the system from ending the program.
BOOL WINAPI onConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    PostMessageW(stopWindow.load(), WM_APP, 0, 0);
    return TRUE;
}

}  // namespace

void onStopRequest(std::function<void()> stop) {
    static std::unique_ptr<win32::MessageWindow> window;
    window = std::make_unique<win32::MessageWindow>([stop = std::move(stop)](UINT message, WPARAM, LPARAM) {
        if (message == WM_APP) stop();
    });
    stopWindow = window->handle();
    if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) throw win32::lastError();
}

}  // namespace zorvik

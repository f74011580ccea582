#pragma once

#include <functional>

#include "event_dispatch.hpp"
#include "form1.hpp"
#include "main_window.hpp"
#include "receive_buffer_option.hpp"
#include "udp_endpoint.hpp"
#include "win32_controls.hpp"
#include "winsock_calls.hpp"

namespace zorvik::win32 {

// The desktop program, short of its entry point: the window, its controls and
// endpoint, and the dispatch of their events to Form1. `end` is called once,
// with the program's exit status, when the program is to end; by default it
// leaves the message loop with that status. The endpoint's socket reaches
// Winsock through `calls`.
class WindowProgram {
public:
    explicit WindowProgram(std::function<void(int status)> end = leaveMessageLoop,
                           WinsockCalls& calls = realWinsockCalls());

    // Runs Form_Load, then shows the window unless the load failed.
    void start(int showCommand = SW_SHOWNORMAL);

    // Starts the program and runs the message loop until it ends; its exit status.
    int exec(int showCommand = SW_SHOWNORMAL);

    bool ended() const { return dispatch_.ended(); }
    MainWindow& window() { return window_; }
    UdpEndpoint& endpoint() { return Winsock1_; }

private:
    static void leaveMessageLoop(int status);

    int status_ = 0;
    EventDispatch dispatch_;
    MainWindow window_;
    Win32CommandButton cmdDiscover_;
    Win32TextBox txtResults_;
    Win32Timer tmrResetCaption_;
    UdpEndpoint Winsock1_;
    ReceiveBufferOption startupOption_;
    Form1 form_;
};

// Runs the message loop until WM_QUIT, giving `window` its keyboard handling;
// the quit message's status.
int runMessageLoop(MainWindow* window);

}  // namespace zorvik::win32

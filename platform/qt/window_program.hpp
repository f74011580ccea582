#pragma once

#include <functional>

#include "event_dispatch.hpp"
#include "form1.hpp"
#include "main_window.hpp"
#include "qt_controls.hpp"
#include "qt_timer.hpp"
#include "qt_waker.hpp"
#include "receive_buffer_option.hpp"
#include "udp_endpoint.hpp"

namespace zorvik {

// Names the application as its desktop entry does (the X11 WM_CLASS and the
// Wayland app id), with its version, and gives every window the program's icon.
void presentAsDesktopApplication();

// The desktop program, short of its entry point: the window, its controls and
// endpoint, and the dispatch of their events to Form1. `end` is called once,
// with the program's exit status, when the program is to end; by default it
// leaves the event loop with that status.
class WindowProgram {
public:
    explicit WindowProgram(std::function<void(int status)> end = exitEventLoop,
                           SystemCalls& calls = realSystemCalls());

    // Runs Form_Load, then shows the window unless the load failed.
    void start();

    // Starts the program and runs the event loop until it ends; its exit status.
    int exec();

    bool ended() const { return dispatch_.ended(); }
    MainWindow& window() { return window_; }
    UdpEndpoint& endpoint() { return Winsock1_; }
    const QtTimer& timer() const { return tmrResetCaption_; }

private:
    static void exitEventLoop(int status);

    int status_ = 0;
    MainWindow window_;
    QtCommandButton cmdDiscover_;
    QtTextBox txtResults_;
    QtTimer tmrResetCaption_;
    UdpEndpoint Winsock1_;
    ReceiveBufferOption startupOption_;
    EventDispatch dispatch_;
    Form1 form_;
};

}  // namespace zorvik

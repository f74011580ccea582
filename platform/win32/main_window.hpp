#pragma once

#include <windows.h>

#include <functional>

namespace zorvik::win32 {

// The window as the user sees it: its caption, its three controls at fixed
// places scaled to the window's DPI, its keyboard order and its font. It holds
// no logic of its own: what the user does is reported through its events.
class MainWindow {
public:
    struct Events {
        std::function<void()> discoverClicked;
        std::function<void()> exitClicked;
        std::function<void()> closed;
        std::function<void()> resultsEdited;
    };

    explicit MainWindow(Events events);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    void show(int showCommand);
    void hide();

    // Hands the message to the window's keyboard handling (Tab, Escape, Enter)
    // if it is meant for it; false if the caller should dispatch it itself.
    bool preTranslate(MSG& message);

    HWND handle() const noexcept { return window_; }
    HWND txtResults() const noexcept { return results_; }
    HWND cmdDiscover() const noexcept { return discover_; }
    HWND cmdExit() const noexcept { return exit_; }

    static constexpr int kDiscoverId = 1001;
    static constexpr int kResultsId = 1002;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(int id, int code);
    void onDpiChanged(UINT dpi, const RECT& suggested);
    void layOut(UINT dpi);
    void useMessageFont(UINT dpi);

    Events events_;
    HWND window_ = nullptr;
    HWND results_ = nullptr;
    HWND discover_ = nullptr;
    HWND exit_ = nullptr;
    HFONT font_ = nullptr;
};

}  // namespace zorvik::win32

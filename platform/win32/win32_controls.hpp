#pragma once

#include <windows.h>

#include <functional>

#include "buffered_text_box.hpp"
#include "controls.hpp"
#include "message_window.hpp"
#include "timer_control.hpp"

namespace zorvik::win32 {

// A push button as the logic sees it.
class Win32CommandButton final : public CommandButton {
public:
    explicit Win32CommandButton(HWND button) : button_(button) {}
    void setCaption(std::string_view caption) override;
    void setEnabled(bool enabled) override;
    void Refresh() override;

private:
    HWND button_;
};

// The multi-line EDIT control as the results box. The control keeps CR LF
// itself, so its text maps one to one onto the results text.
class Win32TextBox final : public BufferedTextBox {
public:
    explicit Win32TextBox(HWND edit, std::size_t maxLines = kMaxResultLines)
        : BufferedTextBox(maxLines), edit_(edit) {}
    // The control reports a change (EN_CHANGE); one the program made is ignored.
    void onChanged() { widgetChanged(); }

protected:
    std::string readWidget() const override;
    void replaceWidget(std::string_view text) override;
    void appendToWidget(std::string_view tail, bool afterCr) override;
    void removeFromWidget(std::string_view front) override;

private:
    HWND edit_;
};

// The one-shot timer, on a system timer of its own message window.
class Win32Timer final : public TimerControl {
public:
    explicit Win32Timer(std::function<void()> onTimer);

protected:
    void start(std::int32_t milliseconds) override;
    void cancel() override;

private:
    std::function<void()> onTimer_;
    MessageWindow window_;
};

}  // namespace zorvik::win32

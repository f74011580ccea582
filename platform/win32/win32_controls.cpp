#include "win32_controls.hpp"

#include "system_error.hpp"
#include "wide_text.hpp"

namespace zorvik::win32 {
namespace {

constexpr UINT_PTR kTimerId = 1;

}  // namespace

void Win32CommandButton::setCaption(std::string_view caption) {
    if (!SetWindowTextW(button_, widen(caption).c_str())) {
        throw lastError();
    }
}

// A disabled control loses the focus to nothing, and with it the keyboard; so,
// as Qt does, the focus first moves on in tab order. Enabling leaves it where it is.
void Win32CommandButton::setEnabled(bool enabled) {
    if (!enabled && GetFocus() == button_) {
        SendMessageW(GetParent(button_), WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(button_, enabled ? TRUE : FALSE);
}

// Paints the button now, without going through the message loop.
void Win32CommandButton::Refresh() {
    RedrawWindow(button_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

std::string Win32TextBox::readWidget() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

// WM_SETTEXT also empties the control's undo buffer.
void Win32TextBox::replaceWidget(std::string_view text) {
    if (!SetWindowTextW(edit_, widen(text).c_str())) {
        throw lastError();
    }
}

// The control keeps CR LF as they come, so a CR LF split between two texts
// joins up by itself.
void Win32TextBox::appendToWidget(std::string_view tail, bool) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto length = static_cast<DWORD>(GetWindowTextLengthW(edit_));
    SendMessageW(edit_, EM_SETSEL, length, length);
    // FALSE: the program's lines are not the user's to undo.
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(widen(tail).c_str()));
    // A selection the user made elsewhere stays; a caret at the end follows the new lines.
    if (end < length) {
        SendMessageW(edit_, EM_SETSEL, start, end);
    }
}

// The control moves all that follows to the front, so the box removes seldom and much.
void Win32TextBox::removeFromWidget(std::string_view front) {
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    const auto removed = static_cast<DWORD>(widen(front).size());
    SendMessageW(edit_, EM_SETSEL, 0, removed);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    // The user's selection stays on its text, or shrinks to what is left of it.
    const auto moved = [removed](DWORD at) { return at > removed ? at - removed : 0; };
    SendMessageW(edit_, EM_SETSEL, moved(start), moved(end));
}

Win32Timer::Win32Timer(std::function<void()> onTimer)
    : onTimer_(std::move(onTimer)), window_([this](UINT message, WPARAM id, LPARAM) {
          if (message == WM_TIMER && id == kTimerId) {
              onTimer_();
          }
      }) {}

// Setting a timer that is already set replaces it, so its period starts afresh.
void Win32Timer::start(std::int32_t milliseconds) {
    if (SetTimer(window_.handle(), kTimerId, static_cast<UINT>(milliseconds), nullptr) == 0) {
        throw lastError();
    }
}

void Win32Timer::cancel() { KillTimer(window_.handle(), kTimerId); }

}  // namespace zorvik::win32

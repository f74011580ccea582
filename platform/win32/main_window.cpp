#include "main_window.hpp"

#include "protocol.hpp"
#include "system_error.hpp"
#include "wide_text.hpp"
#include "window_layout.hpp"

namespace zorvik::win32 {
namespace {

constexpr wchar_t kClassName[] = L"ZorvikDiscoveryWindow";
// A fixed size: no sizing border and no maximize box.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = 0;

int scale(int pixelsAt96, UINT dpi) { return MulDiv(pixelsAt96, static_cast<int>(dpi), layout::kBaseDpi); }

void place(HWND control, const layout::Rect& at, UINT dpi) {
    MoveWindow(control, scale(at.left, dpi), scale(at.top, dpi), scale(at.width, dpi), scale(at.height, dpi),
               TRUE);
}

void registerClassOnce() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
        windowClass.lpszClassName = kClassName;
        if (RegisterClassExW(&windowClass) == 0) {
            throw lastError();
        }
        return true;
    }();
    static_cast<void>(registered);
}

HWND createChild(HWND parent, const wchar_t* kind, std::string_view text, DWORD style, DWORD exStyle, int id) {
    HWND child = CreateWindowExW(exStyle, kind, widen(text).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | style,
                                 0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (child == nullptr) {
        throw lastError();
    }
    return child;
}

}  // namespace

MainWindow::MainWindow(Events events) : events_(std::move(events)) {
    registerClassOnce();
    window_ = CreateWindowExW(kExStyle, kClassName, widen(protocol::kProductName).c_str(), kStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
        throw lastError();
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&procedure));

    // Created in tab order: the results box, Exit, Discover.
    results_ = createChild(window_, L"EDIT", "",
                           WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, WS_EX_CLIENTEDGE,
                           kResultsId);
    exit_ = createChild(window_, L"BUTTON", protocol::kExitCaption, BS_PUSHBUTTON, 0, IDCANCEL);
    discover_ = createChild(window_, L"BUTTON", protocol::kReadyCaption, BS_PUSHBUTTON, 0, kDiscoverId);
    // The default limit (about 30,000 characters) would refuse lines after some 800
    // answers; the results box bounds its lines itself (kMaxResultLines).
    SendMessageW(results_, EM_SETLIMITTEXT, 0, 0);

    const UINT dpi = GetDpiForWindow(window_);
    RECT frame{0, 0, scale(layout::kClientWidth, dpi), scale(layout::kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, dpi);
    SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    layOut(dpi);
    useMessageFont(dpi);
}

MainWindow::~MainWindow() {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

void MainWindow::show(int showCommand) {
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
    SetFocus(results_);
}

void MainWindow::hide() { ShowWindow(window_, SW_HIDE); }

bool MainWindow::preTranslate(MSG& message) { return IsDialogMessageW(window_, &message) != 0; }

LRESULT CALLBACK MainWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr ? self->handle(message, wParam, lParam)
                           : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CLOSE:
        // Closing ends the program as Exit does; the program destroys the window.
        events_.closed();
        return 0;
    case WM_DPICHANGED:
        onDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NEXTDLGCTL: {
        // The multi-line box asks its parent to move the focus on Tab.
        HWND next = GetNextDlgTabItem(window_, GetFocus(), wParam != 0);
        SetFocus(next);
        return 0;
    }
    case DM_GETDEFID: {
        // Enter presses the focused button, as Space does.
        HWND focus = GetFocus();
        if (focus == discover_ || focus == exit_) {
            return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
        }
        return 0;
    }
    default:
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void MainWindow::onCommand(int id, int code) {
    if (id == kDiscoverId && code == BN_CLICKED) {
        events_.discoverClicked();
    } else if (id == IDCANCEL && code == BN_CLICKED) {
        events_.exitClicked();
    } else if (id == kResultsId && code == EN_CHANGE) {
        events_.resultsEdited();
    }
}

void MainWindow::onDpiChanged(UINT dpi, const RECT& suggested) {
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layOut(dpi);
    useMessageFont(dpi);
}

void MainWindow::layOut(UINT dpi) {
    place(results_, layout::kResultsBox, dpi);
    place(discover_, layout::kDiscoverButton, dpi);
    place(exit_, layout::kExitButton, dpi);
}

void MainWindow::useMessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return;  // the controls keep the font they have
    }
    HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
    if (font == nullptr) {
        return;
    }
    for (HWND control : {results_, discover_, exit_}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
    font_ = font;
}

}  // namespace zorvik::win32

// The Win32 window under Wine on a virtual display, driven through window
// messages as a user's keyboard and mouse would, inside a private namespace.
#include "window_program.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <optional>

#include "protocol.hpp"
#include "wide_text.hpp"
#include "win32_controls.hpp"
#include "win32_test_support.hpp"
#include "window_layout.hpp"

namespace zorvik::win32 {
namespace {

using namespace std::chrono_literals;
using testing::WinsockPeer;

std::string textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return narrow(text);
}

// Where a control is, in its window's client coordinates.
RECT placeOf(HWND control) {
    RECT at;
    GetWindowRect(control, &at);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&at), 2);
    return at;
}

class Win32WindowTest : public ::testing::Test {
protected:
    std::optional<int> endStatus;
    WindowProgram program{[this](int status) { endStatus = status; }};
    MainWindow& window = program.window();

    void SetUp() override { program.start(); }
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 5s) {
        return testing::pumpUntil(condition, deadline, window.handle());
    }
    void key(HWND to, WPARAM virtualKey) {
        PostMessageW(to, WM_KEYDOWN, virtualKey, 0);
        PostMessageW(to, WM_KEYUP, virtualKey, 0);
        pumpUntil([] { return false; }, 50ms);
    }
    // Real key presses through the system's input queue, to whatever has the focus.
    void press(std::initializer_list<WORD> keys, bool shift = false) {
        std::vector<INPUT> presses;
        const auto add = [&](WORD virtualKey, DWORD flags) {
            INPUT& input = presses.emplace_back();
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = virtualKey;
            input.ki.dwFlags = flags;
        };
        if (shift) add(VK_SHIFT, 0);
        for (WORD k : keys) add(k, 0), add(k, KEYEVENTF_KEYUP);
        if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
        SendInput(static_cast<UINT>(presses.size()), presses.data(), sizeof(INPUT));
        testing::pumpUntil([] { return false; }, 100ms, GetActiveWindow());
    }
    // A click of the mouse's left button in the middle of `control`, as a user makes it.
    void click(HWND control) {
        RECT at;
        GetWindowRect(control, &at);
        SetCursorPos((at.left + at.right) / 2, (at.top + at.bottom) / 2);
        INPUT presses[2] = {};
        presses[0].type = presses[1].type = INPUT_MOUSE;
        presses[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        presses[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, presses, sizeof(INPUT));
        pumpUntil([] { return false; }, 100ms);
    }
    // One answer from a loopback peer at `from` to the endpoint's port, listed.
    void answer(const char* from = "127.0.0.2") {
        const std::size_t before = textOf(window.txtResults()).size();
        WinsockPeer(from).sendTo(program.endpoint().localPort(), "ZV");
        ASSERT_TRUE(pumpUntil([&] { return textOf(window.txtResults()).size() > before; }));
    }
};

TEST_F(Win32WindowTest, layout_titleClientAndControlsAtTheWindowsDpi_focusAndTabOrder) {
    const UINT dpi = GetDpiForWindow(window.handle());
    if (const char* expected = std::getenv("ZORVIK_EXPECTED_DPI")) {
        EXPECT_EQ(dpi, std::stoul(expected));
    }
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, static_cast<int>(dpi), 96); };
    EXPECT_EQ(textOf(window.handle()), protocol::kProductName);
    RECT client;
    GetClientRect(window.handle(), &client);
    EXPECT_EQ(client.right, scaled(layout::kClientWidth));
    EXPECT_EQ(client.bottom, scaled(layout::kClientHeight));
    const std::pair<HWND, layout::Rect> controls[] = {{window.txtResults(), layout::kResultsBox},
                                                      {window.cmdDiscover(), layout::kDiscoverButton},
                                                      {window.cmdExit(), layout::kExitButton}};
    for (const auto& [control, at] : controls) {
        const RECT place = placeOf(control);
        EXPECT_EQ(place.left, scaled(at.left));
        EXPECT_EQ(place.top, scaled(at.top));
        EXPECT_EQ(place.right - place.left, scaled(at.width));
        EXPECT_EQ(place.bottom - place.top, scaled(at.height));
    }
    const LONG style = GetWindowLongW(window.handle(), GWL_STYLE);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX)) << "the window has a fixed size";
    // Focus starts in the box; Tab runs box, Exit, Discover.
    for (HWND next : {window.txtResults(), window.cmdExit(), window.cmdDiscover(), window.txtResults()}) {
        EXPECT_EQ(GetFocus(), next);
        key(GetFocus(), VK_TAB);
    }
}

TEST_F(Win32WindowTest, discover_busyAtOnceOneProbeFiveSecondsThenReady_answersKeptAfterTypedText) {
    WinsockPeer device(protocol::kGroup.data(), protocol::kPort);  // counts the probes, as a device sees them
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
    const auto clicked = std::chrono::steady_clock::now();
    EXPECT_EQ(textOf(window.cmdDiscover()), protocol::kBusyCaption);
    EXPECT_FALSE(IsWindowEnabled(window.cmdDiscover()));
    EXPECT_FALSE(GetUpdateRect(window.cmdDiscover(), nullptr, FALSE)) << "painted before the click returned";
    click(window.cmdDiscover());
    int probes = 0;
    while (device.receive(300)) ++probes;
    EXPECT_EQ(probes, 1) << "a disabled button sends nothing";

    ASSERT_TRUE(pumpUntil([&] { return IsWindowEnabled(window.cmdDiscover()) != FALSE; }, 8s));
    const auto period = std::chrono::steady_clock::now() - clicked;
    EXPECT_GT(period, 4500ms);
    EXPECT_EQ(textOf(window.cmdDiscover()), protocol::kReadyCaption);

    answer();  // late, after the period
    for (const wchar_t c : std::wstring(L"typed")) SendMessageW(window.txtResults(), WM_CHAR, c, 0);
    answer("127.0.0.3");
    SendMessageW(window.txtResults(), EM_SETSEL, 3, 3);  // the caret amid the text: answers still go last
    answer();
    EXPECT_EQ(textOf(window.txtResults()), "Zorvy found at address: 127.0.0.2\r\ntypedZorvy found at address: 127.0.0.3\r\n"
                                           "Zorvy found at address: 127.0.0.2\r\n");
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
    EXPECT_EQ(textOf(window.txtResults()), "");
}

// Disabling the focused button would leave no control with the focus, and no key working.
TEST_F(Win32WindowTest, spaceOrEnterOnDiscover_focusMovesToTheBox_keysWorkWhileBusyAndAfter) {
    press({VK_TAB, VK_TAB, VK_SPACE});
    ASSERT_FALSE(IsWindowEnabled(window.cmdDiscover())) << "Space pressed Discover";
    EXPECT_EQ(GetFocus(), window.txtResults());
    press({'Z', 'V', VK_TAB});
    EXPECT_EQ(textOf(window.txtResults()), "zv");
    EXPECT_EQ(GetFocus(), window.cmdExit()) << "Tab passes over the disabled button";
    press({VK_TAB}, true);
    ASSERT_TRUE(pumpUntil([&] { return IsWindowEnabled(window.cmdDiscover()) != FALSE; }, 8s));
    EXPECT_EQ(GetFocus(), window.txtResults()) << "the focus stays where the user left it";
    press({VK_END, 'Z', VK_TAB, VK_TAB});
    EXPECT_EQ(textOf(window.txtResults()), "zvz");
    EXPECT_EQ(GetFocus(), window.cmdDiscover());
    press({VK_TAB, VK_ESCAPE});
    EXPECT_EQ(endStatus, 0) << "Escape in the box after the period";

    std::optional<int> status;
    WindowProgram other([&](int s) { status = s; });
    other.start();
    press({VK_TAB, VK_TAB, VK_RETURN});
    ASSERT_FALSE(IsWindowEnabled(other.window().cmdDiscover())) << "Enter pressed Discover";
    EXPECT_EQ(GetFocus(), other.window().txtResults());
    press({VK_ESCAPE});
    EXPECT_EQ(status, 0) << "Escape while busy";
}

// On a stock kernel's buffer, as any host may have: every answer the system
// delivered is listed, and what it dropped it counted.
TEST_F(Win32WindowTest, tenThousandAnswers_allListedInTheBox_butWhatTheSystemDropped) {
    const int stock = 212992;
    setsockopt(program.endpoint().SocketHandle(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&stock), sizeof stock);
    ASSERT_TRUE(std::ifstream("Z:\\proc\\net\\udp").good()) << "the system's count of drops cannot be read";
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
    WinsockPeer device;
    const std::uint16_t port = program.endpoint().localPort();
    for (int i = 0; i < 10000; ++i) {
        device.sendTo(port, "ZV");
        if (i % 50 == 0) Sleep(2);
    }
    const auto listed = [&] { return static_cast<unsigned long>(SendMessageW(window.txtResults(), EM_GETLINECOUNT, 0, 0) - 1); };
    ASSERT_TRUE(pumpUntil([&] { return listed() + testing::kernelDrops(port) >= 10000; }, 60s)) << listed();
    testing::pumpFor(200ms);
    EXPECT_EQ(listed() + testing::kernelDrops(port), 10000u) << testing::kernelDrops(port) << " dropped";
    EXPECT_EQ(textOf(window.txtResults()).size(), listed() * ("Zorvy found at address: " + device.address() + "\r\n").size());
}

// As a terminal's scrollback: past the limit the oldest lines, typed ones too, leave
// the text and the control together; the user's selection stays on its text.
TEST_F(Win32WindowTest, pastTheLimit_oldestLinesLeaveTextAndControl_newestKeptInOrder_selectionStays) {
    static_assert(kMaxResultLines > 100'000, "the box must hold the largest discovery");
    HWND edit = window.txtResults();
    Win32TextBox box(edit, 100);  // past 100 lines it keeps 98
    const auto lines = [](int first, int count) {
        std::string all;
        for (int i = first; i < first + count; ++i) all += "Zorvy found at address: 10.0.0." + std::to_string(i) + "\r\n";
        return all;
    };
    const auto slice = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) box.setText(box.text() + lines(i, 1));
        box.flush();
    };
    const auto type = [&](const std::string& keys) {
        for (const char c : keys) SendMessageW(edit, WM_CHAR, static_cast<WPARAM>(c), 0);
        box.onChanged();  // as the window reports EN_CHANGE to its own box
    };
    type("typed\r");
    slice(0, 99);
    EXPECT_EQ(textOf(edit), "typed\r\n" + lines(0, 99)) << "at the limit, nothing leaves";
    slice(99, 1);
    EXPECT_EQ(textOf(edit), lines(2, 98)) << "the typed line and the oldest answers stay";
    EXPECT_EQ(box.text().view(), textOf(edit));
    const auto at = static_cast<WPARAM>(lines(2, 10).size());
    SendMessageW(edit, EM_SETSEL, at, at + 30);
    const std::string selected = textOf(edit).substr(at, 30);
    slice(100, 3);
    EXPECT_EQ(textOf(edit), lines(5, 98));
    EXPECT_EQ(box.text().view(), textOf(edit));
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(textOf(edit).substr(start, end - start), selected) << "the selection moved off its text";
    slice(103, 110);  // more than the control shows: the text replaces it
    EXPECT_EQ(textOf(edit), lines(115, 98));
    const auto length = static_cast<WPARAM>(GetWindowTextLengthW(edit));
    SendMessageW(edit, EM_SETSEL, length, length);
    std::string typed;
    for (int i = 0; i < 100; ++i) {
        type(std::to_string(i) + "\r");
        if (i >= 2) typed += std::to_string(i) + "\r\n";
    }
    box.flush();  // typed lines alone past the limit, unread since
    EXPECT_EQ(textOf(edit), typed);
    EXPECT_FALSE(SendMessageW(edit, EM_CANUNDO, 0, 0)) << "Ctrl+Z would bring back lines the box no longer holds";
}

TEST_F(Win32WindowTest, escapeExitOrClose_endTheProgramAtOnce) {
    key(window.cmdDiscover(), VK_ESCAPE);
    EXPECT_EQ(endStatus, 0) << "Escape";
    for (const auto& end : std::vector<std::function<void(WindowProgram&)>>{
             [](WindowProgram& p) { SendMessageW(p.window().cmdExit(), BM_CLICK, 0, 0); },
             [](WindowProgram& p) { SendMessageW(p.window().handle(), WM_CLOSE, 0, 0); }}) {
        std::optional<int> status;
        WindowProgram other([&](int s) { status = s; });
        other.start();
        SendMessageW(other.window().cmdDiscover(), BM_CLICK, 0, 0);
        end(other);
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(IsWindowVisible(other.window().handle()));
    }
}

// Input, painting and timers come before arrivals: amid a flood that the
// listing cannot keep up with, a timer expires and the window is repainted at
// once, and a click on Exit ends the program; Exit on the shipped program leaves its loop.
TEST_F(Win32WindowTest, amidAFlood_timerPaintAndClickComeFirst_andTheShippedOneLeavesItsLoop) {
    const std::uint16_t port = program.endpoint().localPort();
    std::atomic<bool> flooding = true;
    std::atomic<std::uint64_t> sent = 0;
    const auto send = [&] {
        WinsockPeer device;
        for (const auto end = std::chrono::steady_clock::now() + 60s; flooding && std::chrono::steady_clock::now() < end; ++sent)
            device.sendTo(port, "ZV");
    };
    std::thread flood[] = {std::thread(send), std::thread(send)};
    // Checked after every message: while slices follow one another, the loop never runs dry.
    const auto handledWithin = [&](std::chrono::milliseconds deadline, const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        for (MSG message; !done();) {
            if (std::chrono::steady_clock::now() > end) return false;
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!window.preTranslate(message)) TranslateMessage(&message), DispatchMessageW(&message);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            }
        }
        return true;
    };
    const auto lines = [&] { return static_cast<unsigned long>(SendMessageW(window.txtResults(), EM_GETLINECOUNT, 0, 0) - 1); };
    ASSERT_TRUE(handledWithin(10s, [&] { return lines() > 1000; })) << "the flood was not listed: " << lines();
    // Taken in and not yet listed: more than the listing can catch up with in
    // the bounds below, even if the senders stalled.
    const auto backlog = [&] {
        const std::uint64_t gone = lines() + testing::kernelDrops(port) + program.endpoint().drops().atCaps;
        return sent > gone ? sent - gone : std::uint64_t{0};
    };
    ASSERT_TRUE(handledWithin(30s, [&] { return backlog() > 12000; })) << "no backlog: " << backlog();

    static std::atomic<bool> expired;
    expired = false;
    SetTimer(nullptr, 0, USER_TIMER_MINIMUM, [](HWND, UINT, UINT_PTR id, DWORD) {
        expired = true;
        KillTimer(nullptr, id);
    });
    EXPECT_TRUE(handledWithin(2s, [&] { return expired.load(); })) << "the timer waited behind the flood";
    RedrawWindow(window.handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    const auto painted = [](HWND w) { return !GetUpdateRect(w, nullptr, FALSE); };
    ASSERT_FALSE(painted(window.handle()));
    EXPECT_TRUE(handledWithin(2s, [&] { return painted(window.handle()) && painted(window.cmdExit()); }))
        << "the repaint waited behind the flood";
    click(window.cmdExit());
    EXPECT_TRUE(pumpUntil([&] { return endStatus.has_value(); }, 3s)) << "the click waited behind the flood";
    flooding = false;
    for (std::thread& sender : flood) sender.join();

    WindowProgram shipped;
    PostMessageW(shipped.window().cmdExit(), BM_CLICK, 0, 0);
    SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });  // a loop that never ends
    EXPECT_EQ(shipped.exec(), 0);
}

// The text of the program's next message box, which runs its own loop: a
// timer in it reads and closes the box.
std::string shown;
void readTheErrorBox() {
    shown.clear();
    SetTimer(nullptr, 0, 200, [](HWND, UINT, UINT_PTR id, DWORD) {
        if (HWND box = FindWindowW(L"#32770", L"Zorvik Discovery")) {
            HWND text = GetDlgItem(box, 0xFFFF);
            shown = textOf(text);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            KillTimer(nullptr, id);
        }
    });
}

// Run in a namespace without a route for the group (scripts/wine --no-route).
TEST_F(Win32WindowTest, NoRoute_discover_showsTheErrorThenEndsWithFailure) {
    readTheErrorBox();
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
    EXPECT_EQ(shown, "Error 10051: A socket operation was attempted to an unreachable network.");
    EXPECT_NE(endStatus.value_or(0), 0);
}

// A receive that fails once answers come, as on a network gone down: the
// window says so, with the system's number, and the program ends with failure.
TEST_F(Win32WindowTest, receiveFailsAmidAnswers_showsTheErrorThenEndsWithFailure) {
    testing::ScriptedWinsockCalls calls;
    std::optional<int> status;
    WindowProgram failing([&](int s) { status = s; }, calls);
    failing.start();
    SendMessageW(failing.window().cmdDiscover(), BM_CLICK, 0, 0);
    readTheErrorBox();
    calls.fail("WSARecvMsg", {WSAENETDOWN});
    WinsockPeer device;
    for (int i = 0; i < 3; ++i) device.sendTo(failing.endpoint().localPort(), "ZV");
    ASSERT_TRUE(pumpUntil([&] { return status.has_value(); }));
    EXPECT_EQ(shown, "Error 10050: A socket operation encountered a dead network.");
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(IsWindowVisible(failing.window().handle()));
}

}  // namespace
}  // namespace zorvik::win32

// zorvik-bench-window.exe N: the Win32 window under Wine through a burst of N
// answers. Discover is clicked, then the program's message loop runs, and the
// box's lines are counted after every message: how many were listed, the time
// from the first to the last, and the longest stretch with answers waiting and
// no lines added (growth_watch.hpp). ZORVIK_BENCH_RECEIVED names the file where
// a preloaded counter keeps how many datagrams the program took in.
//
// zorvik-bench-window.exe exit [LINES]: Discover is clicked and, once LINES (1,000) are
// listed amid a flood, the mouse clicks Exit; then the program ends as the
// shipped one does. Milliseconds from the click to the program's end, to the
// message loop left, and to the program's objects gone, and the click's time
// by the system clock (Unix ms), to set beside the process's end seen outside.
//
// zorvik-bench-window.exe --flood S: the same window under answers that do not
// stop, for S seconds from the first line: lines listed, and resident memory at
// its peak, halfway and at the end (memory_samples.hpp).
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "growth_watch.hpp"
#include "memory_samples.hpp"
#include "window_program.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kIdleLimit = std::chrono::seconds(3);
constexpr auto kFirstLineLimit = std::chrono::seconds(30);

double millisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The preloaded counter's file, seen through Wine's drive for the Unix root.
class ReceivedCount {
public:
    ReceivedCount() {
        if (const char* path = std::getenv("ZORVIK_BENCH_RECEIVED")) {
            std::string windowsPath = std::string("Z:") + path;
            std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
            file_ = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        }
    }
    ~ReceivedCount() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    ReceivedCount(const ReceivedCount&) = delete;
    ReceivedCount& operator=(const ReceivedCount&) = delete;

    // -1 without a counter.
    std::int64_t now() const {
        std::int64_t count = -1;
        OVERLAPPED atStart{};
        DWORD read = 0;
        if (file_ == INVALID_HANDLE_VALUE || !ReadFile(file_, &count, sizeof count, &read, &atStart) ||
            read != sizeof count) {
            return -1;
        }
        return count;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

bool systemQueueHolds(SOCKET socket) {
    u_long next = 0;
    return ioctlsocket(socket, FIONREAD, &next) == 0 && next > 0;
}

long linesIn(HWND box) { return static_cast<long>(SendMessageW(box, EM_GETLINECOUNT, 0, 0)) - 1; }

double unixMilliseconds() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const auto ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;  // 100 ns ticks since 1601
}

int exitAmidAFlood(long lines) {
    using namespace zorvik::win32;
    std::optional<Clock::time_point> clicked, ended, loopLeft;
    double clickedAt = 0;
    long listed = 0;
    {
        WindowProgram program([&](int status) {
            ended = Clock::now();
            PostQuitMessage(status);
        });
        program.start();
        MainWindow& window = program.window();
        SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
        const auto start = Clock::now();
        MSG message;
        while (linesIn(window.txtResults()) < lines && Clock::now() - start < kFirstLineLimit) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
            }
        }
        listed = linesIn(window.txtResults());
        RECT at;
        GetWindowRect(window.cmdExit(), &at);
        SetCursorPos((at.left + at.right) / 2, (at.top + at.bottom) / 2);
        INPUT presses[2] = {};
        presses[0].type = presses[1].type = INPUT_MOUSE;
        presses[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        presses[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        clickedAt = unixMilliseconds();
        clicked = Clock::now();
        SendInput(2, presses, sizeof(INPUT));
        runMessageLoop(&window);
        loopLeft = Clock::now();
    }
    const auto gone = Clock::now();
    const auto since = [&](const std::optional<Clock::time_point>& t) { return t ? millisecondsBetween(*clicked, *t) : -1.0; };
    std::printf("listed_at_exit=%ld end_ms=%.1f loop_left_ms=%.1f objects_gone_ms=%.1f clicked_unix_ms=%.1f\n", listed,
                since(ended), since(loopLeft), since(gone), clickedAt);
    std::fflush(stdout);
    return 0;
}

// Resident memory of the process now and at its peak, in KiB: Wine takes them
// from the kernel's count for its process (a file opened here would be opened
// by the wineserver, and /proc/self be its own).
struct Resident {
    long now = 0;
    long peak = 0;
};

Resident resident() {
    PROCESS_MEMORY_COUNTERS counters{};
    K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return {static_cast<long>(counters.WorkingSetSize / 1024), static_cast<long>(counters.PeakWorkingSetSize / 1024)};
}

// Lines the program adds to the box, counted as it hands them over, since the
// oldest leave the box's front once it is full.
WNDPROC boxProcedure = nullptr;
long linesAdded = 0;

LRESULT CALLBACK countingProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == EM_REPLACESEL && lParam != 0) {
        for (auto* c = reinterpret_cast<const wchar_t*>(lParam); *c != L'\0'; ++c) linesAdded += *c == L'\n';
    }
    return CallWindowProcW(boxProcedure, box, message, wParam, lParam);
}

int runFlood(long seconds) {
    using namespace zorvik::win32;
    std::optional<int> ended;
    WindowProgram program([&](int status) { ended = status; });
    program.start();
    MainWindow& window = program.window();
    boxProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window.txtResults(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&countingProcedure)));
    std::vector<zorvik::bench::Sample> samples;
    std::jthread sampler([&](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            samples.push_back({Clock::now(), resident().now});
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    SetTimer(nullptr, 0, 50, nullptr);
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);
    const auto clicked = Clock::now();
    std::optional<Clock::time_point> first;
    MSG message;
    while (!ended && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.preTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const auto now = Clock::now();
        if (!first && linesAdded > 0) first = now;
        if ((first && now - *first > std::chrono::seconds(seconds)) || (!first && now - clicked > kFirstLineLimit)) break;
    }
    const auto last = Clock::now();
    sampler.request_stop();
    sampler.join();
    const zorvik::bench::SecondHalf second = zorvik::bench::secondHalf(samples, first.value_or(last), last);
    std::printf("listed=%ld kept=%ld s=%.1f peak_kib=%ld half_kib=%ld end_kib=%ld growth_kib=%ld\n", linesAdded,
                static_cast<long>(SendMessageW(window.txtResults(), EM_GETLINECOUNT, 0, 0)) - 1,
                first ? millisecondsBetween(*first, last) / 1000.0 : 0.0, resident().peak, second.halfKiB,
                second.endKiB, second.growthKiB);
    std::fflush(stdout);
    ExitProcess(0);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik::win32;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (argc > 1 && std::string(argv[1]) == "exit") return exitAmidAFlood(argc > 2 ? std::atol(argv[2]) : 1000);
    if (argc > 2 && std::string(argv[1]) == "--flood" && std::atol(argv[2]) > 0) return runFlood(std::atol(argv[2]));
    const long n = argc > 1 ? std::atol(argv[1]) : 0;
    if (n <= 0) {
        std::fprintf(stderr, "usage: zorvik-bench-window.exe N | exit [LINES] | --flood SECONDS\n");
        return 2;
    }
    std::optional<int> ended;
    WindowProgram program([&](int status) { ended = status; });
    program.start();
    MainWindow& window = program.window();
    const ReceivedCount received;
    const auto socket = static_cast<SOCKET>(program.endpoint().SocketHandle());
    zorvik::bench::GrowthWatch growth(
        [&](long listed) { return received.now() > listed || systemQueueHolds(socket); });
    // Wakes the loop while nothing else comes, to notice the end.
    SetTimer(nullptr, 0, 50, nullptr);
    SendMessageW(window.cmdDiscover(), BM_CLICK, 0, 0);

    const auto clicked = Clock::now();
    std::optional<Clock::time_point> first;
    Clock::time_point last{};
    long listed = 0;
    MSG message;
    while (!ended && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!window.preTranslate(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // The box ends every line with a line break, so an empty last line follows them.
        const long lines = static_cast<long>(SendMessageW(window.txtResults(), EM_GETLINECOUNT, 0, 0)) - 1;
        const auto now = Clock::now();
        if (lines > listed) {
            growth.listed(lines);
            first = first.value_or(now);
            last = now;
            listed = lines;
        }
        if (listed >= n || (first && now - last > kIdleLimit) || (!first && now - clicked > kFirstLineLimit)) break;
    }
    const double longestGap = growth.stop();
    std::printf("listed=%ld lost=%ld ms=%.1f max_gap_ms=%.1f received=%lld\n", listed, n - listed,
                first ? millisecondsBetween(*first, last) : 0.0, longestGap, static_cast<long long>(received.now()));
    std::fflush(stdout);
    // Straight out: the window's own end is not what is measured.
    ExitProcess(0);
}

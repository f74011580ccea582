// zorvik-bench-window.exe N: the Win32 window under Wine through a burst of N
// answers. Discover is clicked, then the program's message loop runs, and the
// box's lines are counted after every message: how many were listed, the time
// from the first to the last, and the longest stretch with answers waiting and
// no lines added (growth_watch.hpp). ZORVIK_BENCH_RECEIVED names the file where
// a preloaded counter keeps how many datagrams the program took in.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "growth_watch.hpp"
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

}  // namespace

int main(int argc, char** argv) {
    using namespace zorvik::win32;
    const long n = argc > 1 ? std::atol(argv[1]) : 0;
    if (n <= 0) {
        std::fprintf(stderr, "usage: zorvik-bench-window.exe N\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
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

// The window under a flood of datagrams of every size and content, inside the
// private network namespace that scripts/lan provides. Bounded in time and count.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include <QTest>

#include "event_loop.hpp"
#include "udp_peer.hpp"
#include "window_program.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::runFor;
using testing::runUntil;
using testing::UdpPeer;

long residentKiB() {
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Sends `perSecond` datagrams of random size (0 to 65,507 bytes) and content,
// from three sockets with their own ports, at a steady pace for `length`.
struct Flood {
    Flood(std::uint16_t port, int perSecond, std::chrono::milliseconds length)
        : thread([this, port, perSecond, length] {
              std::mt19937 random(20261206);
              const UdpPeer senders[] = {UdpPeer("127.0.0.2"), UdpPeer("127.0.0.3"), UdpPeer("127.0.0.4")};
              std::string payload;
              const auto start = std::chrono::steady_clock::now();
              for (long i = 0; std::chrono::steady_clock::now() - start < length; ++i) {
                  payload.resize(random() % 65508);
                  for (auto& c : payload) c = static_cast<char>(random());
                  senders[i % 3].sendTo(port, payload);
                  ++sent;
                  bytes += static_cast<long>(payload.size());
                  std::this_thread::sleep_until(start + 1'000'000us * (i + 1) / perSecond);
              }
              done = true;
          }) {}

    std::atomic<bool> done = false;
    std::atomic<long> sent = 0;
    std::atomic<long> bytes = 0;
    std::jthread thread;  // last, so that it starts once the counters exist
};

class FloodTest : public ::testing::Test {
protected:
    std::optional<int> endStatus;
    WindowProgram program{[this](int status) { endStatus = status; }};
    MainWindow& window = program.window();

    void SetUp() override {
        ASSERT_TRUE(testing::insideLan()) << "Discover sends a probe: run this only under scripts/lan";
        program.start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(&window.cmdDiscover, Qt::LeftButton);
    }
    long lines() const { return window.txtResults.document()->blockCount() - 1; }
};

TEST_F(FloodTest, flood_ofRandomDatagrams_oneLineEachAndExitStillEndsAtOnce) {
    {
        Flood flood(program.endpoint().localPort(), 1000, 3s);
        // Midway, an answer to a closed port makes the kernel report an ICMP
        // error on the endpoint's socket; it must change nothing.
        runFor(1s);
        const auto closedPort = UdpPeer("127.0.0.9").port();
        program.endpoint().setRemoteHost("127.0.0.9");
        program.endpoint().setRemotePort(closedPort);
        program.endpoint().SendData("unreachable");
        // The event loop keeps running while the flood goes on, as in the program.
        ASSERT_TRUE(runUntil([&] { return flood.done && lines() >= flood.sent; }, 15s))
            << lines() << " of " << flood.sent;
        runFor(100ms);
        EXPECT_EQ(lines(), flood.sent);
        EXPECT_GT(flood.sent, 1000);
    }
    QTest::mouseClick(&window.cmdExit, Qt::LeftButton);
    EXPECT_EQ(endStatus, 0);
}

TEST_F(FloodTest, flood_memoryGrowsWithTheLinesNotWithThePayloads) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine; run without it";
#endif
    runFor(100ms);
    const long before = residentKiB();
    Flood flood(program.endpoint().localPort(), 1000, 2s);
    ASSERT_TRUE(runUntil([&] { return flood.done && lines() >= flood.sent; }, 15s));
    const long grownKiB = residentKiB() - before;
    // About a hundred megabytes of payload came in; a line costs well under a
    // kilobyte, plus what the kernel's buffer and one receive batch can hold.
    EXPECT_GT(flood.bytes / 1024, 50 * 1024);
    EXPECT_LT(grownKiB, flood.sent + 24 * 1024) << "payloads are being kept";
}

TEST_F(FloodTest, exitDuringFlood_endsAtOnceAndListsNothingMore) {
    Flood flood(program.endpoint().localPort(), 2000, 1s);
    ASSERT_TRUE(runUntil([&] { return lines() >= 100; }));
    QTest::mouseClick(&window.cmdExit, Qt::LeftButton);
    EXPECT_EQ(endStatus, 0);
    const long listed = lines();
    flood.thread.join();
    runFor(200ms);
    EXPECT_EQ(lines(), listed);
}

}  // namespace
}  // namespace zorvik

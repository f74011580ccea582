// The window under floods of datagrams, inside the private network namespace
// that scripts/lan provides. Bounded in time and count.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <optional>
#include <random>
#include <thread>

#include <QTest>
#include <QTextBlock>

#include "event_loop.hpp"
#include "udp_peer.hpp"
#include "window_program.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::runUntil;
using testing::UdpPeer;

// Two threads, each with its own socket, send to `port` for `length`: empty
// datagrams as fast as they can, or `perSecond` of random size and content.
struct Flood {
    Flood(std::uint16_t port, std::chrono::milliseconds length, int perSecond = 0) {
        for (const char* from : {"127.0.0.2", "127.0.0.3"})
            threads.emplace_back([=, this] {
                std::mt19937 random(20261206);
                const UdpPeer sender(from);
                std::string payload;
                const auto start = std::chrono::steady_clock::now();
                for (long i = 1; std::chrono::steady_clock::now() - start < length; ++i, ++sent) {
                    if (perSecond) {
                        payload.resize(random() % 65508);
                        for (auto& c : payload) c = static_cast<char>(random());
                        std::this_thread::sleep_until(start + 2'000'000us * i / perSecond);
                    }
                    sender.sendTo(port, payload);
                }
                ++done;
            });
    }
    std::atomic<long> sent = 0;
    std::atomic<int> done = 0;
    std::vector<std::jthread> threads;
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
    QString lastLine() const { return window.txtResults.document()->lastBlock().previous().text(); }
};

TEST_F(FloodTest, flood_ofRandomDatagrams_oneLineEach_despiteAnIcmpError_andExitEndsAtOnce) {
    {
        Flood flood(program.endpoint().localPort(), 3s, 1000);
        // Midway, an answer to a closed port makes the kernel report an ICMP
        // error on the endpoint's socket; it must change nothing.
        testing::runFor(1s);
        program.endpoint().setRemoteHost("127.0.0.9");
        program.endpoint().setRemotePort(UdpPeer("127.0.0.9").port());
        program.endpoint().SendData("unreachable");
        ASSERT_TRUE(runUntil([&] { return flood.done == 2 && lines() >= flood.sent; }, 15s))
            << lines() << " of " << flood.sent;
        testing::runFor(100ms);
        EXPECT_EQ(lines(), flood.sent);
    }
    QTest::mouseClick(&window.cmdExit, Qt::LeftButton);
    EXPECT_EQ(endStatus, 0);
}

TEST_F(FloodTest, flood_ofEmptyDatagramsAtFullRate_boundedMemory_backlogListedWithinSeconds) {
    Flood flood(program.endpoint().localPort(), 3s);
    ASSERT_TRUE(runUntil([&] { return flood.done == 2; }));
    // A datagram sent now is listed once all taken in before it are; resent
    // until then, as the kernel drops it while its buffer is full.
    const UdpPeer marker("127.0.0.9");
    EXPECT_TRUE(runUntil([&] {
        marker.sendTo(program.endpoint().localPort(), "");
        return lastLine().endsWith("127.0.0.9");
    }, 20s)) << lines() << " listed of " << flood.sent;
#if !defined(__SANITIZE_ADDRESS__)  // whose shadow and quarantine take memory of their own
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1 << 20) << "KiB at the most";
#endif
}

TEST_F(FloodTest, exitDuringFlood_endsAtOnceAndListsNothingMore) {
    Flood flood(program.endpoint().localPort(), 1s, 2000);
    ASSERT_TRUE(runUntil([&] { return lines() >= 100; }));
    QTest::mouseClick(&window.cmdExit, Qt::LeftButton);
    EXPECT_EQ(endStatus, 0);
    const long listed = lines();
    flood.threads.clear();
    testing::runFor(200ms);
    EXPECT_EQ(lines(), listed);
}

}  // namespace
}  // namespace zorvik

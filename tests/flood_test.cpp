// The window under floods of datagrams, inside the private network namespace
// that scripts/lan provides. Bounded in time and count.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <optional>

#include <QTest>
#include <QTextBlock>

#include "event_loop.hpp"
#include "udp_peer.hpp"
#include "window_program.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;
using testing::runUntil;

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

TEST_F(FloodTest, flood_ofEmptyDatagramsAtFullRate_boundedMemory_backlogListedWithinSeconds) {
    const auto port = program.endpoint().localPort();
    testing::Stream flood(port, 2, 3s);
    ASSERT_TRUE(runUntil([&] { return flood.done == 2; }));
    // Listed once all taken in before it are; resent, as a full kernel buffer drops it.
    const testing::UdpPeer marker("127.0.0.9");
    EXPECT_TRUE(runUntil([&] {
        marker.sendTo(port, "");
        return window.txtResults.document()->lastBlock().previous().text().endsWith("127.0.0.9");
    }, 20s)) << lines() << " listed of " << flood.sent;
#if !defined(__SANITIZE_ADDRESS__)  // whose shadow and quarantine take memory of their own
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1 << 20) << "KiB at the most";
#endif
}

TEST_F(FloodTest, exitDuringFlood_endsAtOnceAndListsNothingMore) {
    testing::Stream flood(program.endpoint().localPort());
    ASSERT_TRUE(runUntil([&] { return lines() >= 100; }));
    QTest::mouseClick(&window.cmdExit, Qt::LeftButton);
    EXPECT_EQ(endStatus, 0);
    const long listed = lines();
    testing::runFor(200ms);
    EXPECT_EQ(lines(), listed);
}

}  // namespace
}  // namespace zorvik

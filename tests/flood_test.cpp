// The window under floods of datagrams, inside the private network namespace
// that scripts/lan provides. Bounded in time and count.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QTest>
#include <QTextBlock>

#include "event_loop.hpp"
#include "udp_peer.hpp"
#include "window_program.hpp"

namespace zorvik {
namespace {

using namespace std::chrono_literals;

TEST(FloodTest, flood_ofEmptyDatagramsAtFullRate_boundedMemory_backlogListedWithinSeconds) {
    ASSERT_TRUE(testing::insideLan()) << "Discover sends a probe: run this only under scripts/lan";
    WindowProgram program([](int) {});
    program.start();
    QTest::mouseClick(&program.window().cmdDiscover, Qt::LeftButton);
    const auto port = program.endpoint().localPort();
    { testing::Stream flood(port, 2); testing::runFor(3s); }
    // Listed once all taken in before it are; resent, as a full kernel buffer drops it.
    const testing::UdpPeer marker("127.0.0.9");
    const QTextDocument& text = *program.window().txtResults.document();
    EXPECT_TRUE(testing::runUntil([&] {
        marker.sendTo(port, "");
        return text.lastBlock().previous().text().endsWith("127.0.0.9");
    }, 30s)) << text.blockCount() << " lines listed";
#if !defined(__SANITIZE_ADDRESS__)  // whose shadow and quarantine take memory of their own
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    EXPECT_LT(usage.ru_maxrss, 1 << 20) << "KiB at the most";
#endif
}

}  // namespace
}  // namespace zorvik

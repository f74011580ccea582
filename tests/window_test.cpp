// The window headless, with its real endpoint, inside scripts/lan's namespace.
#include "window_program.hpp"

#include <gtest/gtest.h>

#include <optional>

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include "event_loop.hpp"
#include "protocol.hpp"
#include "qt_printers.hpp"
#include "scripted_calls.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::runUntil;
using testing::UdpPeer;
using Shown = std::pair<QString, QString>;

// Records the button's caption and state at each paint.
struct PaintWatcher final : QObject {
    explicit PaintWatcher(QPushButton& b) : button(b) { b.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) paints.emplace_back(button.text(), button.isEnabled());
        return false;
    }
    QPushButton& button;
    std::vector<std::pair<QString, bool>> paints;
};

QString line(const char* address) { return QStringLiteral("Zorvy found at address: %1\n").arg(address); }
void click(QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }

class WindowTest : public ::testing::Test {
protected:
    testing::ScriptedCalls calls;
    const UdpPeer group{protocol::kGroup.data(), protocol::kPort};  // sees the probes as a device would
    std::optional<int> endStatus;
    WindowProgram program{[this](int status) { endStatus = status; }, calls};
    MainWindow& window = program.window();
    QPlainTextEdit& results = window.txtResults;
    const QTimer& timer = program.timer().qtTimer();

    void SetUp() override {
        program.start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    // The probes that reached the group, after a short wait for the first.
    int probesSent() {
        int count = 0;
        while (group.receive(count == 0 ? 200 : 0)) ++count;
        return count;
    }
    // The Discover button's caption, and its name as a screen reader says it.
    Shown discover() const {
        return {window.cmdDiscover.text(), QAccessible::queryAccessibleInterface(&window.cmdDiscover)->text(QAccessible::Name)};
    }
    void answerFrom(const char* address, const std::string& payload = "ZV") {
        UdpPeer(address).sendTo(program.endpoint().localPort(), payload);
    }
};

TEST_F(WindowTest, opens_withControlsInPlace_focusOnResults_tabCycling_timerIdle) {
    EXPECT_EQ(window.windowTitle(), "Zorvik Discovery");
    EXPECT_EQ(window.size(), QSize(388, 232));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window must not be resizable";
    EXPECT_EQ(results.geometry(), QRect(8, 8, 369, 177));
    EXPECT_EQ(window.cmdDiscover.geometry(), QRect(96, 200, 73, 25));
    EXPECT_EQ(window.cmdExit.geometry(), QRect(192, 200, 81, 25));
    EXPECT_EQ(discover(), Shown("Discover", "Discover"));
    EXPECT_EQ(window.cmdExit.text(), "Exit");
    EXPECT_FALSE(results.isReadOnly());
    EXPECT_EQ(results.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(results.lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(results.wordWrapMode(), QTextOption::WrapAnywhere) << "a long unbroken line lays out in quadratic time";
    EXPECT_FALSE(timer.isActive()) << "the listening period runs without a Discover";
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), &results);
    for (QWidget* next : std::vector<QWidget*>{&window.cmdExit, &window.cmdDiscover, &results}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    EXPECT_EQ(results.toPlainText(), "");
}

TEST_F(WindowTest, discover_paintsAndSaysRunning_sendsOneProbe_restartsThePeriod_untilItEnds) {
    PaintWatcher watcher(window.cmdDiscover);
    click(window.cmdDiscover);
    // No event loop has run since the click: the paint happened inside the handler.
    ASSERT_FALSE(watcher.paints.empty());
    EXPECT_EQ(watcher.paints.back(), std::make_pair(QString("Running..."), false));
    EXPECT_EQ(discover(), Shown("Running...", "Running..."));
    EXPECT_EQ(probesSent(), 1);
    click(window.cmdDiscover);
    EXPECT_EQ(probesSent(), 0) << "a click while listening sent a probe";
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 5000);
    ASSERT_TRUE(runUntil([&] { return timer.remainingTime() < 4800; }));
    window.cmdDiscover.setEnabled(true);  // pressed again, as after an earlier period
    click(window.cmdDiscover);
    EXPECT_GT(timer.remainingTime(), 4800) << "a new Discover did not restart the period";
    ASSERT_TRUE(runUntil([&] { return window.cmdDiscover.isEnabled(); }, std::chrono::seconds(8)));
    EXPECT_EQ(discover(), Shown("Discover", "Discover"));
    EXPECT_FALSE(timer.isActive());
}

TEST_F(WindowTest, answers_listedInArrivalOrder_afterTypedText_andNextDiscoverEmptiesTheBox) {
    click(window.cmdDiscover);
    answerFrom("127.0.0.2");
    answerFrom("127.0.0.3", "");
    answerFrom("127.0.0.2", std::string(65507, 'x'));
    QString all = line("127.0.0.2") + line("127.0.0.3") + line("127.0.0.2");
    ASSERT_TRUE(runUntil([&] { return results.toPlainText() == all; })) << results.toPlainText().toStdString();
    results.moveCursor(QTextCursor::End);
    QTest::keyClicks(&results, "my notes");
    answerFrom("127.0.0.4");
    all += "my notes" + line("127.0.0.4");
    ASSERT_TRUE(runUntil([&] { return results.toPlainText() == all; })) << results.toPlainText().toStdString();
    window.cmdDiscover.setEnabled(true);  // as when the period has ended
    click(window.cmdDiscover);
    EXPECT_EQ(results.toPlainText(), "");
}

TEST_F(WindowTest, exitEscapeOrClose_whileListening_endsAtOnce_listingNothingMore) {
    const std::vector<std::function<void(MainWindow&)>> ends = {
        [](MainWindow& w) { click(w.cmdExit); }, [](MainWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); },
        [](MainWindow& w) { w.close(); }};
    for (const auto& end : ends) {
        std::optional<int> status;
        WindowProgram other([&](int s) { status = s; }, calls);
        other.start();
        other.window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other.window()));
        click(other.window().cmdDiscover);
        end(other.window());
        ASSERT_EQ(status, 0);
        UdpPeer("127.0.0.2").sendTo(other.endpoint().localPort(), "late");
        testing::runFor(std::chrono::milliseconds(100));
        EXPECT_EQ(other.window().txtResults.toPlainText(), "");
        EXPECT_EQ(other.window().cmdDiscover.text(), "Running...") << "ending must not restore the button";
    }
}

TEST_F(WindowTest, failedSend_showsNumberAndDescription_thenEndsNonZero) {
    calls.failures["sendto"] = {ENETUNREACH};
    QString report;
    // The report is modal: read it and close it from within its own event loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            report = box->windowTitle() + ": " + box->text();
            box->close();
        }
    });
    poll.start(10);
    click(window.cmdDiscover);
    EXPECT_EQ(report, "Zorvik Discovery: Error 101: Network is unreachable");
    EXPECT_EQ(endStatus, 1);
    EXPECT_FALSE(window.cmdDiscover.isEnabled());
}

}  // namespace
}  // namespace zorvik

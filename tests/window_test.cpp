#include "window_program.hpp"

#include <gtest/gtest.h>

#include <optional>

#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

#include "child_process.hpp"
#include "event_loop.hpp"
#include "qt_printers.hpp"
#include "group_listener.hpp"
#include "protocol.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::GroupListener;
using testing::runFor;
using testing::runUntil;
using testing::UdpPeer;

// The kernel's calls, but sends can be made to fail.
class FailingSends final : public SystemCalls {
public:
    int failWith = 0;
    int socket(int d, int t, int p) override { return real().socket(d, t, p); }
    int close(int fd) override { return real().close(fd); }
    int setsockopt(int fd, int l, int n, const void* v, socklen_t len) override {
        return real().setsockopt(fd, l, n, v, len);
    }
    ssize_t sendto(int fd, const void* d, size_t n, int f, const sockaddr* to, socklen_t tl) override {
        if (failWith != 0) {
            errno = failWith;
            return -1;
        }
        return real().sendto(fd, d, n, f, to, tl);
    }
    int recvmmsg(int fd, mmsghdr* m, unsigned c, int f) override { return real().recvmmsg(fd, m, c, f); }
    int poll(pollfd* fds, nfds_t n, int t) override { return real().poll(fds, n, t); }

private:
    static SystemCalls& real() { return realSystemCalls(); }
};

// Records how a widget looked each time it was painted.
class PaintWatcher final : public QObject {
public:
    explicit PaintWatcher(QPushButton& button) : button_(button) { button.installEventFilter(this); }
    struct Look {
        QString caption;
        bool enabled;
    };
    std::vector<Look> paints;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            paints.push_back({button_.text(), button_.isEnabled()});
        }
        return false;
    }

private:
    QPushButton& button_;
};

class WindowTest : public ::testing::Test {
protected:
    FailingSends calls;
    std::optional<int> endStatus;
    WindowProgram program{[this](int status) { endStatus = status; }, calls};
    MainWindow& window = program.window();

    void SetUp() override {
        program.start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void click(QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }

    QString shown() const { return window.txtResults.toPlainText(); }

    // An answer from a device at `address`, to the port the probe left from.
    void answerFrom(const char* address, const std::string& payload = "ZV") {
        UdpPeer device(address);
        device.sendTo(program.endpoint().localPort(), payload);
    }
    bool waitForText(const QString& text) {
        return runUntil([&] { return shown() == text; });
    }
};

QString line(const char* address) { return QStringLiteral("Zorvy found at address: %1\n").arg(address); }

// ---- Look and keyboard ----

TEST_F(WindowTest, opens_withTitleControlsAtTheirPlacesAndFocusOnResults) {
    EXPECT_EQ(window.windowTitle(), "Zorvik Discovery");
    EXPECT_EQ(window.size(), QSize(388, 232));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window must not be resizable";
    EXPECT_EQ(window.txtResults.geometry(), QRect(8, 8, 369, 177));
    EXPECT_EQ(window.cmdDiscover.geometry(), QRect(96, 200, 73, 25));
    EXPECT_EQ(window.cmdExit.geometry(), QRect(192, 200, 81, 25));
    EXPECT_EQ(window.cmdDiscover.text(), "Discover");
    EXPECT_EQ(window.cmdExit.text(), "Exit");
    EXPECT_TRUE(window.cmdDiscover.isEnabled());
    EXPECT_FALSE(window.txtResults.isReadOnly());
    EXPECT_EQ(window.txtResults.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(shown(), "");
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), &window.txtResults);
}

TEST_F(WindowTest, tab_movesFocusResultsThenExitThenDiscover_insertingNothing) {
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window.txtResults, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &window.cmdExit);
    QTest::keyClick(&window.cmdExit, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &window.cmdDiscover);
    QTest::keyClick(&window.cmdDiscover, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), &window.txtResults);
    EXPECT_EQ(shown(), "");
}

TEST_F(WindowTest, neverDiscovered_timerStaysSilent) {
    runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(window.cmdDiscover.text(), "Discover");
    EXPECT_TRUE(window.cmdDiscover.isEnabled());
}

// ---- Discover ----

TEST_F(WindowTest, discoverClick_showsRunningDisabledPaintedBeforeReturning) {
    PaintWatcher watcher(window.cmdDiscover);
    GroupListener group;
    click(window.cmdDiscover);
    // No event loop has run since the click: the paint happened inside the handler.
    ASSERT_FALSE(watcher.paints.empty());
    EXPECT_EQ(watcher.paints.back().caption, "Running...");
    EXPECT_FALSE(watcher.paints.back().enabled);
    EXPECT_EQ(group.probesReceived(), 1);
}

TEST_F(WindowTest, clickWhileListening_sendsNothing_andPeriodEndRestoresButton) {
    GroupListener group;
    click(window.cmdDiscover);
    EXPECT_EQ(group.probesReceived(), 1);
    click(window.cmdDiscover);
    EXPECT_EQ(group.probesReceived(), 0);
    EXPECT_EQ(window.cmdDiscover.text(), "Running...");
    ASSERT_TRUE(runUntil([&] { return window.cmdDiscover.isEnabled(); }, std::chrono::milliseconds(7000)));
    EXPECT_EQ(window.cmdDiscover.text(), "Discover");
}

TEST_F(WindowTest, answers_listedInArrivalOrder_andNextDiscoverEmptiesTheBox) {
    click(window.cmdDiscover);
    answerFrom("127.0.0.2");
    answerFrom("127.0.0.3", "");
    answerFrom("127.0.0.2", std::string(65507, 'x'));
    ASSERT_TRUE(waitForText(line("127.0.0.2") + line("127.0.0.3") + line("127.0.0.2"))) << shown().toStdString();
    window.cmdDiscover.setEnabled(true);  // as when the period has ended
    click(window.cmdDiscover);
    EXPECT_EQ(shown(), "");
}

TEST_F(WindowTest, typedText_staysAndTheNextAnswerFollowsIt) {
    click(window.cmdDiscover);
    QTest::keyClicks(&window.txtResults, "my notes");
    QTest::keyClick(&window.txtResults, Qt::Key_Return);
    answerFrom("127.0.0.4");
    EXPECT_TRUE(waitForText("my notes\n" + line("127.0.0.4"))) << shown().toStdString();
}

TEST_F(WindowTest, discover_amongSimulatedDevices_listsEveryOne) {
    testing::ChildProcess devices(testing::binDir() + "/zorvik-device-sim",
                                  {"--interface", "lo", "--hosts", "3", "--first-address", "127.0.0.20"});
    ASSERT_TRUE(devices.waitForLine("zorvik-device-sim: ready", std::chrono::seconds(5))) << devices.err();
    click(window.cmdDiscover);
    ASSERT_TRUE(runUntil([&] { return window.txtResults.document()->blockCount() == 4; }));
    QStringList listed = shown().split('\n', Qt::SkipEmptyParts);
    listed.sort();
    EXPECT_EQ(listed.join('\n') + '\n',
              line("127.0.0.20") + line("127.0.0.21") + line("127.0.0.22"));
}

// ---- Ending ----

TEST_F(WindowTest, exitWhileListening_endsAtOnceAndNothingMoreIsListed) {
    click(window.cmdDiscover);
    const auto port = program.endpoint().localPort();
    click(window.cmdExit);
    ASSERT_EQ(endStatus, 0);
    EXPECT_TRUE(program.ended());
    UdpPeer("127.0.0.2").sendTo(port, "late");
    runFor(std::chrono::milliseconds(200));
    EXPECT_EQ(shown(), "");
    EXPECT_EQ(window.cmdDiscover.text(), "Running...") << "Exit must not restore the button";
}

TEST_F(WindowTest, escape_pressesExit) {
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(endStatus, 0);
}

TEST_F(WindowTest, closingTheWindow_endsLikeExit) {
    click(window.cmdDiscover);
    window.close();
    EXPECT_EQ(endStatus, 0);
    EXPECT_TRUE(program.ended());
}

TEST_F(WindowTest, failedSend_showsNumberAndDescription_thenEndsNonZero) {
    calls.failWith = ENETUNREACH;
    QString message;
    QString title;
    // The report is modal: read it and close it from within its own event loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            message = box->text();
            title = box->windowTitle();
            box->close();
        }
    });
    poll.start(10);
    click(window.cmdDiscover);
    EXPECT_EQ(message, "Error 101: Network is unreachable");
    EXPECT_EQ(title, "Zorvik Discovery");
    EXPECT_EQ(endStatus, 1);
    EXPECT_FALSE(window.cmdDiscover.isEnabled());
}

}  // namespace
}  // namespace zorvik

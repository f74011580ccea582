// The window headless, with its real endpoint, inside scripts/lan's namespace.
#include "window_program.hpp"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QStyleOptionButton>
#include <QTest>

#include "event_loop.hpp"
#include "protocol.hpp"
#include "qt_printers.hpp"
#include "scripted_calls.hpp"
#include "udp_peer.hpp"

namespace zorvik {
namespace {

using testing::runUntil;
using Shown = std::pair<QString, QString>;

QString line(const char* address) { return QStringLiteral("Zorvy found at address: %1\n").arg(address); }

class WindowTest : public ::testing::Test {
protected:
    testing::ScriptedCalls calls;
    const testing::UdpPeer group{protocol::kGroup.data(), protocol::kPort};  // sees the probes as a device would
    std::optional<int> endStatus;
    WindowProgram program{[this](int status) { endStatus = status; }, calls};
    MainWindow& window = program.window();
    QPlainTextEdit& results = window.txtResults;
    const QTimer& timer = program.timer().qtTimer();

    void SetUp() override { program.start(); ASSERT_TRUE(QTest::qWaitForWindowExposed(&window)); }
    // The Discover button's caption, and its name as a screen reader says it.
    Shown discover() const { return {window.cmdDiscover.text(), QAccessible::queryAccessibleInterface(&window.cmdDiscover)->text(QAccessible::Name)}; }
    void answerFrom(const char* address) { testing::UdpPeer(address).sendTo(program.endpoint().localPort(), "ZV"); }
    bool shows(const QString& text) { return runUntil([&] { return results.toPlainText() == text; }); }
};

TEST_F(WindowTest, opens_withControlsInPlace_focusOnResults_tabCycling_timerIdle) {
    EXPECT_EQ(window.windowTitle(), "Zorvik Discovery");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&window)->role(), QAccessible::Window) << "AT-SPI's frame";
    EXPECT_EQ(window.size(), QSize(388, 232));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "the window must not be resizable";
    EXPECT_EQ(std::vector({results.geometry(), window.cmdDiscover.geometry(), window.cmdExit.geometry()}),
              std::vector<QRect>({{8, 8, 369, 177}, {96, 200, 73, 25}, {192, 200, 81, 25}}));
    EXPECT_EQ(discover(), Shown("Discover", "Discover"));
    EXPECT_EQ(window.cmdExit.text(), "Exit");
    EXPECT_FALSE(results.isReadOnly());
    EXPECT_EQ(results.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(results.wordWrapMode(), QTextOption::WrapAnywhere) << "a long unbroken line lays out in quadratic time";
    EXPECT_FALSE(timer.isActive()) << "the listening period runs without a Discover";
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), &results);
    for (QWidget* next : std::vector<QWidget*>{&window.cmdExit, &window.cmdDiscover, &results}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    window.cmdDiscover.setFocus();
    QTest::keyClick(&window.cmdDiscover, Qt::Key_Return);
    EXPECT_EQ(discover(), Shown("Running...", "Running...")) << "Enter did not press the focused button";
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(endStatus, 0) << "Escape did not press Exit";
}

TEST(MainWindowTest, largerFont_scalesWindowAndControlsTogether_clippingNoCaption) {
    const QFont standard = QApplication::font();
    for (const int points : {11, 12, 14}) {
        QFont larger = standard;
        larger.setPointSize(points);
        QApplication::setFont(larger);
        MainWindow window;
        EXPECT_TRUE(window.rect().contains(window.txtResults.geometry())) << points << " pt";
        for (const auto& [button, texts] : std::vector<std::pair<QPushButton*, QStringList>>{
                 {&window.cmdDiscover, {"Discover", "Running..."}}, {&window.cmdExit, {"Exit"}}}) {
            QStyleOptionButton option;
            option.initFrom(button);
            const QRect label = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            EXPECT_TRUE(window.rect().contains(button->geometry())) << points << " pt";
            EXPECT_LE(button->fontMetrics().height(), label.height()) << points << " pt";
            for (const QString& text : texts) {
                EXPECT_LE(button->fontMetrics().horizontalAdvance(text), label.width()) << points << " pt: " << text.toStdString();
            }
        }
    }
    QApplication::setFont(standard);
}

TEST_F(WindowTest, presentedAsDesktopApplication_withTheProgramIcon_underItsLaunchersClass) {
    presentAsDesktopApplication();
    const QImage icon = window.windowIcon().pixmap(32).toImage();
    EXPECT_EQ(std::pair(icon.pixelColor(0, 0).alpha(), icon.pixelColor(16, 4).alpha()), std::pair(0, 255))
        << "no icon drawn from the SVG";
    QFile entry(ZORVIK_DESKTOP_ENTRY);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    // Qt's X11 windows take their WM_CLASS class from the application's name.
    EXPECT_TRUE(QString(entry.readAll()).split('\n').contains("StartupWMClass=" + QApplication::applicationName()));
    EXPECT_EQ(QGuiApplication::desktopFileName() + ".desktop", QFileInfo(entry).fileName());
}

// Records the caption of each paint of a button.
struct PaintLog : QObject {
    QStringList captions;
    bool eventFilter(QObject* button, QEvent* event) override {
        if (event->type() == QEvent::Paint) captions << static_cast<QPushButton*>(button)->text();
        return false;
    }
};

TEST_F(WindowTest, discover_showsRunning_sendsOneProbe_listsAnswersAfterTypedText_forTheRestartedPeriod) {
    PaintLog painted;
    window.cmdDiscover.installEventFilter(&painted);
    QStringList paintedByTheHandler;  // connected after the program's own: runs as its handler returns
    QObject::connect(&window.cmdDiscover, &QPushButton::clicked, [&] { paintedByTheHandler = painted.captions; });
    window.cmdDiscover.click();
    EXPECT_EQ(paintedByTheHandler, QStringList{"Running..."}) << "not repainted before the click's handler returned";
    EXPECT_EQ(discover(), Shown("Running...", "Running..."));
    EXPECT_TRUE(group.receive(200));
    for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.2"}) answerFrom(address);
    QString all = line("127.0.0.2") + line("127.0.0.3") + line("127.0.0.2");
    ASSERT_TRUE(shows(all)) << results.toPlainText().toStdString();
    results.moveCursor(QTextCursor::End);
    QTest::keyClicks(&results, "my notes");
    answerFrom("127.0.0.4");
    ASSERT_TRUE(shows(all += "my notes" + line("127.0.0.4"))) << results.toPlainText().toStdString();
    window.cmdDiscover.click();
    EXPECT_FALSE(group.receive(200)) << "a click while listening sent a probe";
    EXPECT_EQ(timer.interval(), 5000);
    ASSERT_TRUE(runUntil([&] { return timer.remainingTime() < 4800; }));
    window.cmdDiscover.setEnabled(true);  // pressed again, as after an earlier period
    window.cmdDiscover.click();
    EXPECT_EQ(results.toPlainText(), "");
    EXPECT_GT(timer.remainingTime(), 4800) << "a new Discover did not restart the period";
    ASSERT_TRUE(runUntil([&] { return window.cmdDiscover.isEnabled(); }, std::chrono::seconds(8)));
    EXPECT_EQ(discover(), Shown("Discover", "Discover"));
    EXPECT_FALSE(timer.isActive());
}

TEST_F(WindowTest, closeWhileListening_endsAtOnce_listingNothingMore) {
    window.cmdDiscover.click();
    window.close();
    ASSERT_EQ(endStatus, 0);
    answerFrom("127.0.0.2");
    testing::runFor(std::chrono::milliseconds(100));
    EXPECT_EQ(results.toPlainText(), "");
    EXPECT_EQ(window.cmdDiscover.text(), "Running...") << "ending must not restore the button";
}

// A failed send, or a failure on the receive thread, whose number errno does not hold there.
TEST_F(WindowTest, failure_showsItsOwnNumberAndDescription_thenEndsNonZero) {
    for (const auto& [call, number, expected] : {std::tuple{"sendto", ENETUNREACH, "Error 101: Network is unreachable"},
                                                 {"recvmmsg", EFAULT, "Error 14: Bad address"}}) {
        testing::ScriptedCalls failing;
        std::optional<int> status;
        WindowProgram failingProgram([&](int code) { status = code; }, failing);
        failingProgram.start();
        failing.fail(call, {number});
        QString report = "no report";
        QTimer reader;  // runs in the modal report's own event loop
        QObject::connect(&reader, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                report = box->windowTitle() + ": " + box->text(), box->close();
        });
        reader.start(10);
        failingProgram.window().cmdDiscover.click();
        if (!status) {
            testing::UdpPeer("127.0.0.2").sendTo(failingProgram.endpoint().localPort(), "ZV");
            ASSERT_TRUE(runUntil([&] { return status.has_value(); })) << call;
        }
        EXPECT_EQ(report, QString("Zorvik Discovery: ") + expected);
        EXPECT_EQ(status, 1);
        EXPECT_FALSE(failingProgram.window().cmdDiscover.isEnabled()) << "ending must not restore the button";
    }
}

// The program as shipped, with its own ending: Exit leaves the event loop, and exec returns.
TEST(ShippedWindowTest, exit_endsTheEventLoop_withStatusZero) {
    ASSERT_TRUE(testing::insideLan()) << "Form_Load makes a socket: run this only under scripts/lan";
    WindowProgram program;
    QTimer::singleShot(0, [&] { QTest::mouseClick(&program.window().cmdExit, Qt::LeftButton); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });  // a no-op ending would never return
    EXPECT_EQ(program.exec(), 0);
}

}  // namespace
}  // namespace zorvik

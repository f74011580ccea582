#include "main_window.hpp"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QShortcut>

#include <algorithm>

#include "line_ends.hpp"
#include "protocol.hpp"
#include "window_layout.hpp"

namespace zorvik {
namespace {

// The layout's places are for the default font size: Qt scales them on other
// screens, layOut() with a larger font.
constexpr qreal kDefaultPointSize = 9;  // Qt's font size on Linux when the desktop sets none

// As Windows' dialog base units: the letters' average width, a line's height.
QSizeF baseUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {metrics.horizontalAdvance(letters) / static_cast<qreal>(letters.size()), metrics.height()};
}

// A plain QWidget reads as a client area ("filler" to AT-SPI); a top-level
// window is a frame, which is what screen readers announce and list.
QAccessibleInterface* frameRole(const QString&, QObject* object) {
    auto* window = dynamic_cast<MainWindow*>(object);
    return window != nullptr ? new QAccessibleWidget(window, QAccessible::Window) : nullptr;
}

}  // namespace

MainWindow::MainWindow() : txtResults(this), cmdDiscover(this), cmdExit(this) {
    static const bool installed = (QAccessible::installFactory(frameRole), true);
    static_cast<void>(installed);
    setWindowTitle(qtText(protocol::kProductName));
    layOut();

    txtResults.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResults.setTabChangesFocus(true);
    // Qt's default wrap looks for a word boundary through the rest of a line before
    // breaking anywhere: quadratic in a long line without spaces (a 2 MB paste
    // took minutes to lay out). Breaking at the edge is linear.
    txtResults.setWordWrapMode(QTextOption::WrapAnywhere);
    txtResults.setAccessibleName(QStringLiteral("Results"));

    // No accessible name of its own: a screen reader reads the caption as it changes.
    cmdDiscover.setText(qtText(protocol::kReadyCaption));

    cmdExit.setText(qtText(protocol::kExitCaption));
    // Enter on a focused button presses it, as Space does.
    cmdDiscover.setAutoDefault(true);
    cmdExit.setAutoDefault(true);
    // Exit is the window's cancel button: Escape presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, &cmdExit, &QPushButton::click);

    setTabOrder(&txtResults, &cmdExit);
    setTabOrder(&cmdExit, &cmdDiscover);
    txtResults.setFocus();
}

void MainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        layOut();
    }
    QWidget::changeEvent(event);
}

// Measured against the same family at the default size: another family alone
// moves nothing, and a smaller font keeps the layout.
void MainWindow::layOut() {
    QFont standard = font();
    standard.setPointSizeF(kDefaultPointSize);
    const QSizeF now = baseUnits(font());
    const QSizeF then = baseUnits(standard);
    const qreal x = std::max<qreal>(1, now.width() / then.width());
    const qreal y = std::max<qreal>(1, now.height() / then.height());
    const auto scaled = [x, y](const layout::Rect& r) {
        return QRect(qRound(r.left * x), qRound(r.top * y), qRound(r.width * x), qRound(r.height * y));
    };
    setFixedSize(scaled({0, 0, layout::kClientWidth, layout::kClientHeight}).size());
    txtResults.setGeometry(scaled(layout::kResultsBox));
    cmdDiscover.setGeometry(scaled(layout::kDiscoverButton));
    cmdExit.setGeometry(scaled(layout::kExitButton));
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose) {
        onClose();
    }
}

}  // namespace zorvik

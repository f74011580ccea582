#include "main_window.hpp"

#include <QCloseEvent>
#include <QShortcut>

#include "protocol.hpp"

namespace zorvik {
namespace {

QString text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Places and sizes in pixels at 96 dots per inch; Qt scales them on other screens.
constexpr QSize kClientSize{388, 232};
constexpr QRect kResultsBox{8, 8, 369, 177};
constexpr QRect kDiscoverButton{96, 200, 73, 25};
constexpr QRect kExitButton{192, 200, 81, 25};

}  // namespace

MainWindow::MainWindow() : txtResults(this), cmdDiscover(this), cmdExit(this) {
    setWindowTitle(text(protocol::kProductName));
    setFixedSize(kClientSize);

    txtResults.setGeometry(kResultsBox);
    txtResults.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResults.setTabChangesFocus(true);
    // Qt's default wrap looks for a word boundary through the rest of a line before
    // breaking anywhere: quadratic in a long line without spaces (a 2 MB paste
    // took minutes to lay out). Breaking at the edge is linear.
    txtResults.setWordWrapMode(QTextOption::WrapAnywhere);
    txtResults.setAccessibleName(QStringLiteral("Results"));

    cmdDiscover.setGeometry(kDiscoverButton);
    // No accessible name of its own: a screen reader reads the caption as it changes.
    cmdDiscover.setText(text(protocol::kReadyCaption));

    cmdExit.setGeometry(kExitButton);
    cmdExit.setText(text(protocol::kExitCaption));
    // Exit is the window's cancel button: Escape presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, &cmdExit, &QPushButton::click);

    setTabOrder(&txtResults, &cmdExit);
    setTabOrder(&cmdExit, &cmdDiscover);
    txtResults.setFocus();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose) {
        onClose();
    }
}

}  // namespace zorvik

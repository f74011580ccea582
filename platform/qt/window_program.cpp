#include "window_program.hpp"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include "form_wiring.hpp"
#include "line_ends.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {


// Drawn here from the SVG built in, so the icon needs no image plugin at run time.
QIcon programIcon() {
    QSvgRenderer svg(QStringLiteral(":/zorvik-discovery.svg"));
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void showFailure(QWidget& window, const Failure& failure) {
    QMessageBox::critical(&window, qtText(protocol::kProductName),
                          QStringLiteral("Error %1: %2")
                              .arg(failure.number())
                              .arg(QString::fromStdString(failure.description())));
}

}  // namespace

void presentAsDesktopApplication() {
    // Qt takes WM_CLASS's class from the application name: the desktop entry's name.
    QApplication::setApplicationName(QStringLiteral("zorvik-discovery"));
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvik-discovery"));
    QGuiApplication::setApplicationDisplayName(qtText(protocol::kProductName));
    QApplication::setApplicationVersion(qtText(protocol::kVersion));
    QApplication::setWindowIcon(programIcon());
}

WindowProgram::WindowProgram(std::function<void(int status)> end, SystemCalls& calls)
    : cmdDiscover_(window_.cmdDiscover),
      txtResults_(window_.txtResults),
      tmrResetCaption_(dispatched(dispatch_, [this] { form_.tmrResetCaption_Timer(); })),
      Winsock1_(qtEndpointParts(calls)),
      startupOption_(calls),
      dispatch_(
          [this] {
              // Nothing reaches the logic after this: pending expiries and
              // datagrams are abandoned with the window.
              Winsock1_.stop();
              tmrResetCaption_.stop();
          },
          [this](const Failure& failure) { showFailure(window_, failure); },
          [this, end = std::move(end)](int status) {
              window_.hide();
              status_ = status;
              end(status);
          }),
      form_({cmdDiscover_, txtResults_, tmrResetCaption_, Winsock1_, startupOption_, dispatch_}) {
    QObject::connect(&window_.cmdDiscover, &QPushButton::clicked,
                     dispatched(dispatch_, [this] { form_.cmdDiscover_Click(); }));
    QObject::connect(&window_.cmdExit, &QPushButton::clicked, dispatched(dispatch_, [this] { form_.cmdExit_Click(); }));
    wireEndpoint(Winsock1_, dispatch_, form_, [this] { txtResults_.flush(); });
    // Closing the window ends the program as Exit does.
    window_.onClose = dispatched(dispatch_, [this] { dispatch_.End(); });
}

void WindowProgram::exitEventLoop(int status) { QCoreApplication::exit(status); }

int WindowProgram::exec() {
    start();
    // A failed load ends the program before there is an event loop to leave.
    return ended() ? status_ : QApplication::exec();
}

void WindowProgram::start() {
    dispatch_.deliver([this] { form_.Form_Load(); });
    if (!dispatch_.ended()) {
        window_.show();
    }
}

}  // namespace zorvik

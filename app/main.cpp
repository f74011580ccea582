// zorvik-discovery: the desktop window.
#include <QApplication>

#include "protocol.hpp"
#include "window_program.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const auto name = zorvik::protocol::kProductName;
    const auto version = zorvik::protocol::kVersion;
    QApplication::setApplicationName(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    QApplication::setApplicationVersion(QString::fromUtf8(version.data(), static_cast<qsizetype>(version.size())));
    QGuiApplication::setDesktopFileName(QStringLiteral("zorvik-discovery"));

    int status = 0;
    zorvik::WindowProgram program([&status](int endStatus) {
        status = endStatus;
        QCoreApplication::exit(endStatus);
    });
    program.start();
    if (program.ended()) {
        return status;  // the load failed before the event loop ever ran
    }
    QApplication::exec();
    return status;
}

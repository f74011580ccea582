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

    return zorvik::WindowProgram().exec();
}

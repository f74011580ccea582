// zorvik-discovery: the desktop window.
#include <QApplication>

#include "window_program.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvik::presentAsDesktopApplication();
    return zorvik::WindowProgram().exec();
}

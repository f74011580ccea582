// zorvik-screenshot OUT.png: makes the README's picture of the window after a
// discovery. Presses Discover, lists the answers for a second, saves the window.
// It sends the probe, so run it only inside the simulated LAN (scripts/lan).
#include <cstdio>

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include "window_program.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvik-screenshot OUT.png  (inside scripts/lan)\n");
        return 2;
    }
    QApplication app(argc, argv);
    // A steady text cursor: a blinking one would be caught on or off by chance.
    QApplication::setCursorFlashTime(0);
    zorvik::WindowProgram program;
    // Once the window shows, press Discover; a second later, save the picture.
    QTimer::singleShot(0, [&] { program.window().cmdDiscover.click(); });
    QTimer::singleShot(1000, [&] {
        const bool saved = program.window().grab().save(QString::fromLocal8Bit(argv[1]));
        if (!saved) {
            std::fprintf(stderr, "zorvik-screenshot: cannot write %s\n", argv[1]);
        }
        QCoreApplication::exit(saved ? 0 : 1);
    });
    return program.exec();
}

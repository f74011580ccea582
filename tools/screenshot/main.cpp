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
    int status = 0;
    zorvik::WindowProgram program([&status](int endStatus) {
        status = endStatus;
        QCoreApplication::exit(endStatus);
    });
    program.start();
    if (program.ended()) {
        return status;
    }
    program.window().cmdDiscover.click();
    QTimer::singleShot(1000, [&] {
        if (!program.window().grab().save(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "zorvik-screenshot: cannot write %s\n", argv[1]);
            status = 1;
        }
        QCoreApplication::exit(status);
    });
    QApplication::exec();
    return status;
}

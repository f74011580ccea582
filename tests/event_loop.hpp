#pragma once

#include <chrono>
#include <functional>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace zorvik::testing {

// Runs the event loop until the condition holds or the deadline passes (a bounded
// wait, never a fixed sleep), in turns short enough to act amid a burst.
inline bool runUntil(const std::function<bool()>& condition,
                     std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > deadline.count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!condition()) QThread::usleep(200);
    }
    return true;
}

// Runs the event loop for a while, to show that something does not happen.
inline void runFor(std::chrono::milliseconds period) { runUntil([] { return false; }, period); }

}  // namespace zorvik::testing

#include "qt_timer.hpp"

namespace zorvik {

QtTimer::QtTimer(std::function<void()> onTimer) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(onTimer));
}

}  // namespace zorvik

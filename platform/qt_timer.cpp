#include "qt_timer.hpp"

namespace zorvik {

QtTimer::QtTimer(std::function<void()> onTimer) {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, std::move(onTimer));
}

void QtTimer::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

void QtTimer::setInterval(std::int32_t milliseconds) {
    interval_ = milliseconds;
    apply();
}

void QtTimer::stop() {
    enabled_ = false;
    timer_.stop();
}

void QtTimer::apply() {
    if (enabled_ && interval_ > 0) {
        timer_.start(interval_);  // (re)starts the period
    } else {
        timer_.stop();
    }
}

}  // namespace zorvik

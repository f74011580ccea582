#pragma once

#include <functional>

#include <QTimer>

#include "timer_control.hpp"

namespace zorvik {

// The one-shot timer on a QTimer, firing through Qt's event loop.
class QtTimer final : public TimerControl {
public:
    explicit QtTimer(std::function<void()> onTimer);

    // The Qt timer underneath, for tests to read its state.
    const QTimer& qtTimer() const { return timer_; }

protected:
    void start(std::int32_t milliseconds) override { timer_.start(milliseconds); }
    void cancel() override { timer_.stop(); }

private:
    QTimer timer_;
};

}  // namespace zorvik

#pragma once

#include <functional>

#include <QTimer>

#include "controls.hpp"

namespace zorvik {

// A timer that fires through the event loop every `interval` milliseconds while
// enabled; with interval 0 it never fires. Enabling it again restarts the period.
class QtTimer final : public Timer {
public:
    explicit QtTimer(std::function<void()> onTimer);

    void setEnabled(bool enabled) override;
    void setInterval(std::int32_t milliseconds) override;

    void stop();

    // The Qt timer underneath, for tests to read its state.
    const QTimer& qtTimer() const { return timer_; }

private:
    void apply();

    QTimer timer_;
    bool enabled_ = true;
    std::int32_t interval_ = 0;
};

}  // namespace zorvik

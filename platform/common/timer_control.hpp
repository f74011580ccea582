#pragma once

#include <cstdint>

#include "controls.hpp"

namespace zorvik {

// A timer that fires through the event loop every `interval` milliseconds while
// enabled; with interval 0 it never fires. Enabling it again, or setting its
// interval while enabled, starts the period afresh. Each platform supplies the
// system timer that starts and cancels a period.
class TimerControl : public Timer {
public:
    void setEnabled(bool enabled) final {
        enabled_ = enabled;
        apply();
    }
    void setInterval(std::int32_t milliseconds) final {
        interval_ = milliseconds;
        apply();
    }
    // Fires no more: the program is ending.
    void stop() {
        enabled_ = false;
        cancel();
    }

    std::int32_t interval() const noexcept { return interval_; }
    bool running() const noexcept { return enabled_ && interval_ > 0; }

protected:
    ~TimerControl() = default;
    virtual void start(std::int32_t milliseconds) = 0;
    virtual void cancel() = 0;

private:
    void apply() {
        if (running()) {
            start(interval_);
        } else {
            cancel();
        }
    }

    bool enabled_ = true;
    std::int32_t interval_ = 0;
};

}  // namespace zorvik

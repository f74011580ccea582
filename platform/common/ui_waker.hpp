#pragma once

#include <functional>

namespace zorvik {

// How the endpoint reaches the UI thread's event loop; each platform has its
// own. The endpoint connects `woken` once, before the first wake-up.
class UiWaker {
public:
    virtual ~UiWaker() = default;
    virtual void connect(std::function<void()> woken) = 0;
    // From any thread: `woken` runs on the UI thread soon; wake-ups before it
    // has run may be merged into one.
    virtual void wake() noexcept = 0;
    // On the UI thread: whether input, painting or timers may be waiting;
    // true where the event loop cannot tell.
    virtual bool inputWaits() const = 0;
    // On the UI thread: `woken` runs once everything waiting now has been handled.
    virtual void wakeAfterInput() = 0;
};

}  // namespace zorvik

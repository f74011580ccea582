#pragma once

#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

#include "controls.hpp"
#include "failure.hpp"

namespace zorvik {

// Every path from the event loop into the program's code goes through here, so
// events reach the handlers one at a time and no failure escapes into the event
// loop. A failure is reported once and ends the program with a non-zero status.
// Ending first halts every source of events (the endpoint, the timer), so that
// nothing is taken in or delivered while a report is on screen or afterwards.
class EventDispatch final : public Program {
public:
    using Halter = std::function<void()>;
    using Reporter = std::function<void(const Failure&)>;
    using Exiter = std::function<void(int status)>;

    static constexpr int kFailureStatus = 1;

    EventDispatch(Halter halt, Reporter report, Exiter exit, int failureStatus = kFailureStatus)
        : halt_(std::move(halt)),
          report_(std::move(report)),
          exit_(std::move(exit)),
          failureStatus_(failureStatus) {}

    template <typename Handler>
    void deliver(Handler&& handler) {
        if (ended_) {
            return;
        }
        try {
            std::forward<Handler>(handler)();
        } catch (const Failure& failure) {
            fail(failure);
        } catch (const std::bad_alloc&) {
            fail(Failure(ENOMEM, std::strerror(ENOMEM)));
        } catch (const std::exception& other) {
            fail(Failure(0, other.what()));
        }
    }

    // Program::End: the program ends now, with success.
    void End() override { end(0); }

    // Ends the program now with the given status.
    void end(int status) {
        if (stop()) {
            exit_(status);
        }
    }

    bool ended() const noexcept { return ended_; }

private:
    // Marks the program ended and halts its sources; false if it had ended already.
    bool stop() {
        if (ended_) {
            return false;
        }
        ended_ = true;
        halt_();
        return true;
    }

    void fail(const Failure& failure) {
        if (stop()) {
            report_(failure);
            exit_(failureStatus_);
        }
    }

    Halter halt_;
    Reporter report_;
    Exiter exit_;
    int failureStatus_;
    bool ended_ = false;
};

}  // namespace zorvik

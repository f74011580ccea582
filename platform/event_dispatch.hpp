#pragma once

#include <functional>
#include <utility>

#include "controls.hpp"
#include "failure.hpp"

namespace zorvik {

// Delivers events to the handlers one at a time. A failure that escapes a
// handler is reported, and then the program ends with a non-zero status. Once
// the program has ended, nothing more is delivered.
class EventDispatch final : public Program {
public:
    using Reporter = std::function<void(const Failure&)>;
    using Ender = std::function<void(int status)>;

    static constexpr int kFailureStatus = 1;

    EventDispatch(Reporter report, Ender end, int failureStatus = kFailureStatus)
        : report_(std::move(report)), end_(std::move(end)), failureStatus_(failureStatus) {}

    template <typename Handler>
    void deliver(Handler&& handler) {
        if (ended_) {
            return;
        }
        try {
            std::forward<Handler>(handler)();
        } catch (const Failure& failure) {
            fail(failure);
        } catch (const std::exception& other) {
            fail(Failure(0, other.what()));
        }
    }

    // Program::End: the program ends now, with success.
    void End() override { end(0); }

    // Ends the program now with the given status.
    void end(int status) {
        ended_ = true;
        end_(status);
    }

    bool ended() const noexcept { return ended_; }

private:
    void fail(const Failure& failure) {
        // Ended first, so that nothing is delivered while the report is shown.
        ended_ = true;
        report_(failure);
        end_(failureStatus_);
    }

    Reporter report_;
    Ender end_;
    int failureStatus_;
    bool ended_ = false;
};

}  // namespace zorvik

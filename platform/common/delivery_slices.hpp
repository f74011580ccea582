#pragma once

#include <cstddef>
#include <deque>
#include <functional>

#include "arrival_queue.hpp"
#include "receive_thread.hpp"
#include "ui_waker.hpp"

namespace zorvik {

// Reports what the receive thread has queued on the UI thread, one datagram at
// a time and in order, in slices: each runs for a few milliseconds or a
// thousand arrivals at the most, and only after the input, painting and timers
// that wait, so that they all get through during a large burst. A failure of
// the receive thread is raised after every datagram it took in before it.
class DeliverySlices {
public:
    struct Handlers {
        // Hands one datagram over, oldest first.
        std::function<void(ReceivedDatagram&& datagram)> arrival;
        // At the end of every slice that reported an arrival, before control
        // returns to the event loop: where a text box shows the slice's lines.
        std::function<void()> sliceEnd;
    };
    // Runs one slice from the event loop; the program passes it through its
    // event dispatch, so that no failure escapes into the event loop.
    using Runner = std::function<void(const std::function<void()>& slice)>;

    // The slice's end, where a text box takes the slice's lines in one
    // insertion, costs in proportion to them: so many lines at most, that a
    // slice stays short whatever a line costs.
    static constexpr std::size_t kMaxArrivalsPerSlice = 1024;

    DeliverySlices(ArrivalQueue& queue, ReceiveThread& thread, UiWaker& waker);
    DeliverySlices(const DeliverySlices&) = delete;
    DeliverySlices& operator=(const DeliverySlices&) = delete;

    void handle(Handlers handlers) { handlers_ = std::move(handlers); }
    void runThrough(Runner runner) { run_ = std::move(runner); }

    // From a handler: reports, slice after slice and without the event loop,
    // everything queued now, then throws the receive thread's failure, if any.
    void deliverAll();
    // Nothing is reported any more: the program is ending.
    void stop() noexcept { stopped_ = true; }

private:
    void woken();
    void slice();
    // After a slice: asks for another while arrivals wait; with none left,
    // rearms the receive thread and raises its failure, if any.
    void finish();
    bool pending();

    ArrivalQueue& queue_;
    ReceiveThread& thread_;
    UiWaker& waker_;
    Handlers handlers_;
    Runner run_ = [](const std::function<void()>& callback) { callback(); };
    std::deque<ReceivedDatagram> taken_;  // taken from the queue, not yet reported
    bool deferred_ = false;               // the slice waited for input once already
    bool delivering_ = false;
    bool stopped_ = false;
};

}  // namespace zorvik

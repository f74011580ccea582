#include "delivery_slices.hpp"

#include <chrono>

namespace zorvik {
namespace {

// How long one slice may run before the event loop gets a turn.
constexpr auto kSliceLength = std::chrono::milliseconds(5);

}  // namespace

DeliverySlices::DeliverySlices(ArrivalQueue& queue, ReceiveThread& thread, UiWaker& waker)
    : queue_(queue), thread_(thread), waker_(waker) {
    waker_.connect([this] { woken(); });
}

void DeliverySlices::woken() {
    if (!deferred_ && waker_.inputWaits()) {
        deferred_ = true;
        waker_.wakeAfterInput();
        return;
    }
    deferred_ = false;
    run_([this] { slice(); });
}

bool DeliverySlices::pending() {
    if (taken_.empty()) {
        queue_.takeAll(taken_);
    }
    return !taken_.empty();
}

void DeliverySlices::slice() {
    if (delivering_ || stopped_) {
        return;
    }
    delivering_ = true;
    const auto deadline = std::chrono::steady_clock::now() + kSliceLength;
    std::size_t delivered = 0;
    while (!stopped_ && delivered < kMaxArrivalsPerSlice && pending()) {
        ReceivedDatagram next = std::move(taken_.front());
        taken_.pop_front();
        ++delivered;
        handlers_.arrival(std::move(next));
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    delivering_ = false;
    if (delivered > 0 && handlers_.sliceEnd && !stopped_) {
        handlers_.sliceEnd();
    }
    if (!stopped_) {
        finish();
    }
}

void DeliverySlices::finish() {
    if (pending()) {
        waker_.wake();  // not rearmed: the receive thread leaves the waking to this side
        return;
    }
    thread_.rearm();
    // Looked at before the queue: what the thread took in before it failed is there by then.
    const bool failed = thread_.failed();
    if (queue_.waiting()) {
        if (thread_.disarm()) {
            waker_.wake();
        }
        return;
    }
    if (failed && thread_.disarm()) {
        if (const std::exception_ptr failure = thread_.takeFailure()) {
            std::rethrow_exception(failure);
        }
    }
}

void DeliverySlices::deliverAll() {
    while (!stopped_ && !delivering_ && (pending() || thread_.failed())) {
        slice();
    }
}

}  // namespace zorvik

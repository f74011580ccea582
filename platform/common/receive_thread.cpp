#include "receive_thread.hpp"

#include <future>
#include <utility>

namespace zorvik {
namespace {

// The UI thread is woken this often at the most: woken for every batch, its
// wake-ups would take turns on the processor with the receive thread mid-burst.
constexpr auto kWakeInterval = std::chrono::milliseconds(20);
constexpr std::chrono::milliseconds kNoHurry{-1};

}  // namespace

void ReceiveThread::start(DatagramSource& source) {
    stop();
    stopping_ = false;
    source_ = &source;
    std::promise<void> running;
    const std::future<void> started = running.get_future();
    thread_ = std::thread([this, &source, &running] {
        running.set_value();
        run(source);
    });
    started.wait();
}

void ReceiveThread::run(DatagramSource& source) noexcept {
    ReceiveBatch batch;
    std::exception_ptr failure;
    try {
        // Waits only once the system's queue is empty; a steady stream is
        // taken batch after batch, and a stop is seen between batches.
        while (!stopping_.load(std::memory_order_relaxed)) {
            if (takeBatch(source, batch) > 0) {
                static_cast<void>(wakeIfDue());
            } else if (!source.waitForDatagrams(wakeIfDue())) {
                break;
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // Kept once the handler has ended: the UI thread may rethrow the same object
    // at once, and two threads must not handle one exception together.
    if (failure) {
        keep(std::move(failure));
        if (disarm()) {
            wake_();
        }
    }
}

void ReceiveThread::keep(std::exception_ptr failure) noexcept {
    {
        const std::lock_guard lock(failureMutex_);
        failure_ = std::move(failure);
    }
    failed_ = true;
}

std::size_t ReceiveThread::takeBatch(DatagramSource& source, ReceiveBatch& batch) {
    if (!source.receive(batch)) {
        return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    for (ReceivedDatagram& datagram : batch) {
        datagram.arrived = now;
    }
    const std::size_t count = batch.size();
    queue_.push(batch);
    return count;
}

std::chrono::milliseconds ReceiveThread::wakeIfDue() {
    if (!armed_.load() || !queue_.waiting()) {
        return kNoHurry;
    }
    const auto now = std::chrono::steady_clock::now();
    if (const auto due = lastWake_ + kWakeInterval; now < due) {
        return std::chrono::ceil<std::chrono::milliseconds>(due - now);
    }
    if (disarm()) {
        lastWake_ = now;
        wake_();
    }
    return kNoHurry;
}

void ReceiveThread::stop() noexcept {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    source_->interrupt();
    thread_.join();
}

void ReceiveThread::stop(std::chrono::milliseconds drainFor) noexcept {
    stop();
    if (source_ == nullptr || failed()) {
        return;
    }
    try {
        ReceiveBatch batch;
        const auto end = std::chrono::steady_clock::now() + drainFor;
        for (std::size_t taken = 0;
             taken < ArrivalQueue::kMaxQueuedDatagrams && std::chrono::steady_clock::now() < end;) {
            const std::size_t count = takeBatch(*source_, batch);
            if (count == 0) {
                break;
            }
            taken += count;
        }
    } catch (...) {
        keep(std::current_exception());
    }
}

std::exception_ptr ReceiveThread::takeFailure() {
    const std::lock_guard lock(failureMutex_);
    failed_ = false;
    return std::exchange(failure_, nullptr);
}

}  // namespace zorvik

#include "receive_thread.hpp"

#include <future>

namespace zorvik {

void ReceiveThread::start(DatagramSource& source, DatagramSink& sink) {
    stop();
    stopping_ = false;
    source_ = &source;
    std::promise<void> running;
    const std::future<void> started = running.get_future();
    thread_ = std::thread([&source, &sink, &stopping = stopping_, &running] {
        running.set_value();
        ReceiveBatch batch;
        try {
            // Waits only once the system's queue is empty; a steady stream is
            // taken batch after batch, and a stop is seen between batches.
            while (!stopping.load(std::memory_order_relaxed)) {
                if (source.receive(batch)) {
                    sink.takeIn(batch);
                    continue;
                }
                if (!source.waitForDatagrams(sink.caughtUp())) {
                    break;
                }
            }
        } catch (...) {
            sink.receiveFailed(std::current_exception());
        }
    });
    // A thread not yet scheduled takes nothing in: answers to a probe sent
    // right after this would meet a full buffer.
    started.wait();
}

void ReceiveThread::stop() noexcept {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    source_->interrupt();
    thread_.join();
}

}  // namespace zorvik

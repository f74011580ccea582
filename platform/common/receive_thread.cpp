#include "receive_thread.hpp"

namespace zorvik {

void ReceiveThread::start(DatagramSource& source, DatagramSink& sink) {
    stop();
    stopping_ = false;
    source_ = &source;
    thread_ = std::thread([&source, &sink, &stopping = stopping_] {
        ReceiveBatch batch;
        try {
            // Waits only once the system's queue is empty; a steady stream is
            // taken batch after batch, and a stop is seen between batches.
            while (!stopping.load(std::memory_order_relaxed)) {
                if (source.receive(batch)) {
                    sink.takeIn(batch);
                } else if (!source.waitForDatagrams()) {
                    break;
                }
            }
        } catch (...) {
            sink.receiveFailed(std::current_exception());
        }
    });
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

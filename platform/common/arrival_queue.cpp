#include "arrival_queue.hpp"

#include <algorithm>
#include <cerrno>

#include "destination.hpp"
#include "failure.hpp"

namespace zorvik {
namespace {

// How long one delivery slice may run before the event loop gets a turn.
constexpr auto kSliceLength = std::chrono::milliseconds(5);
// The slice's end, where a text box takes the slice's lines in one insertion,
// costs in proportion to them and drains nothing: so many lines at most, that
// the system's queue is not left undrained for long whatever a line costs.
constexpr std::size_t kMaxArrivalsPerSlice = 1024;
// Deliveries between two drains of the system's queue within a slice.
constexpr int kDeliveriesPerDrain = 32;
// Once the queue has held this much and is read empty, its memory goes back to
// the system instead of staying with the idle program.
constexpr std::size_t kReleaseAfterBytes = std::size_t{4} << 20;

template <typename D>
std::size_t queuedCost(const D& datagram) {
    return sizeof(D) + datagram.payload.size();
}

}  // namespace

void ArrivalQueue::SendData(std::string_view payload) {
    static_cast<void>(SocketHandle());  // no socket is the first fault to report
    const Destination::Address to = destination_.require();
    destination_.forEachInterface([&](std::uint32_t by) { sendDatagram(to, by, payload); });
}

void ArrivalQueue::GetData(std::string& data, DataType, std::int32_t maxBytes) {
    if (maxBytes < 0) {
        throw Failure(EINVAL, "invalid byte count " + std::to_string(maxBytes));
    }
    if (arrived_.empty()) {
        throw Failure(EAGAIN, "no datagram has arrived to be read");
    }
    Datagram& oldest = arrived_.front();
    queuedBytes_ -= queuedCost(oldest);
    oldest.payload.resize(std::min(oldest.payload.size(), static_cast<std::size_t>(maxBytes)));
    data = std::move(oldest.payload);
    arrived_.pop_front();
    if (announced_ > 0) {
        --announced_;
    }
    if (arrived_.empty() && heldBytes_ >= kReleaseAfterBytes) {
        heldBytes_ = 0;
        arrived_.shrink_to_fit();
        releaseMemory();
    }
}

std::string ArrivalQueue::RemoteHostIP() const {
    if (!currentSender_) {
        throw Failure(EDESTADDRREQ, "no datagram has arrived yet, so there is no sender");
    }
    return dottedAddress(currentSender_->address);
}

std::uint16_t ArrivalQueue::remoteSenderPort() const noexcept {
    if (!currentSender_) {
        return 0;
    }
    return swapPortOrder(currentSender_->port);
}

bool ArrivalQueue::full() const noexcept {
    return arrived_.size() >= kMaxQueuedDatagrams || queuedBytes_ >= kMaxQueuedBytes;
}

void ArrivalQueue::push(Sender from, std::string_view payload) {
    arrived_.push_back({from, std::string(payload)});
    queuedBytes_ += queuedCost(arrived_.back());
    heldBytes_ = std::max(heldBytes_, queuedBytes_);
}

void ArrivalQueue::drain() {
    if (intakeOpen()) {
        drainSystemQueue();
        // Full: stop watching until deliveries have made room, rather than spin.
        if (full()) {
            watchReadable(false);
        }
    }
}

void ArrivalQueue::onReadable() {
    drain();
    if (!stopped_ && announced_ < arrived_.size()) {
        scheduleSlice();
    }
}

void ArrivalQueue::announceNext() {
    const Datagram& next = arrived_[announced_];
    currentSender_ = next.from;
    ++announced_;
    if (arrival_) {
        arrival_(static_cast<std::int32_t>(next.payload.size()));
    }
}

void ArrivalQueue::deliverSlice() {
    if (delivering_ || stopped_) {
        return;
    }
    delivering_ = true;
    const auto deadline = std::chrono::steady_clock::now() + kSliceLength;
    int sinceDrain = 0;
    std::size_t delivered = 0;
    while (!stopped_ && announced_ < arrived_.size() && delivered < kMaxArrivalsPerSlice) {
        announceNext();
        ++delivered;
        if (++sinceDrain == kDeliveriesPerDrain) {
            drain();
            sinceDrain = 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    delivering_ = false;
    if (delivered > 0 && sliceEnd_ && !stopped_) {
        sliceEnd_();
    }
    if (stopped_) {
        return;
    }
    if (intakeOpen() && !full()) {
        watchReadable(true);
    }
    drain();
    if (announced_ < arrived_.size()) {
        scheduleSlice();
    }
}

void ArrivalQueue::deliverPending() {
    run_([this] {
        drain();
        // Under a steady stream, taking in more would keep this from returning.
        intakeClosed_ = true;
        watchReadable(false);
        while (!stopped_ && !delivering_ && announced_ < arrived_.size()) {
            deliverSlice();
        }
    });
}

void ArrivalQueue::stop() {
    stopped_ = true;
    watchReadable(false);
}

}  // namespace zorvik

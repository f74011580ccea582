#include "arrival_queue.hpp"

namespace zorvik {

void ArrivalQueue::push(ReceiveBatch& batch) {
    {
        const std::lock_guard lock(mutex_);
        for (ReceivedDatagram& datagram : batch) {
            // A release between the check and the addition only leaves more room.
            if (heldCount_.load() >= kMaxQueuedDatagrams || heldBytes_.load() >= kMaxQueuedBytes) {
                ++dropped_;
                continue;
            }
            ++heldCount_;
            heldBytes_ += cost(datagram);
            waiting_.push_back(std::move(datagram));
        }
    }
    batch.clear();
}

void ArrivalQueue::takeAll(std::deque<ReceivedDatagram>& into) {
    std::deque<ReceivedDatagram> taken;
    {
        const std::lock_guard lock(mutex_);
        taken.swap(waiting_);
    }
    if (into.empty()) {
        into.swap(taken);
        return;
    }
    for (ReceivedDatagram& datagram : taken) {
        into.push_back(std::move(datagram));
    }
}

void ArrivalQueue::release(const ReceivedDatagram& done) noexcept {
    --heldCount_;
    heldBytes_ -= cost(done);
}

bool ArrivalQueue::waiting() const {
    const std::lock_guard lock(mutex_);
    return !waiting_.empty();
}

std::uint64_t ArrivalQueue::droppedAtCaps() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace zorvik

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "received_datagram.hpp"

namespace zorvik {

// The datagrams the receive thread has taken from the system and the UI thread
// has not yet finished with, in order. Past a count or a byte cap what arrives
// is dropped and counted, so a flood costs bounded memory and its backlog is
// listed within about a second. A datagram counts against the caps from its
// push until the UI thread releases it: those taken and not yet read too.
class ArrivalQueue {
public:
    // The count is above the largest discovery (100,000 answers at once).
    static constexpr std::size_t kMaxQueuedDatagrams = std::size_t{128} << 10;
    static constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;

    // What one datagram counts against the byte cap.
    static std::size_t cost(const ReceivedDatagram& datagram) noexcept {
        return sizeof datagram + datagram.payload.size();
    }

    // Receive side: takes the batch's datagrams over up to the caps, leaving it empty.
    void push(ReceiveBatch& batch);

    // UI side: moves everything waiting behind `into`, oldest first, in
    // constant time when `into` is empty, so the receive side never waits on a copy.
    void takeAll(std::deque<ReceivedDatagram>& into);
    // UI side: one datagram taken is done with, and its room free again.
    void release(const ReceivedDatagram& done) noexcept;

    // Whether anything waits to be taken.
    bool waiting() const;
    // The bytes held, taken or not: what the program keeps of the answers now.
    std::size_t heldBytes() const noexcept { return heldBytes_.load(); }
    std::uint64_t droppedAtCaps() const;

private:
    mutable std::mutex mutex_;
    std::deque<ReceivedDatagram> waiting_;
    std::uint64_t dropped_ = 0;
    // Released on the UI thread without the lock.
    std::atomic<std::size_t> heldCount_ = 0;
    std::atomic<std::size_t> heldBytes_ = 0;
};

}  // namespace zorvik

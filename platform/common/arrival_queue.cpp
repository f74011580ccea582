#include "arrival_queue.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "destination.hpp"
#include "failure.hpp"

namespace zorvik {
namespace {

// How long one delivery slice may run before the event loop gets a turn.
constexpr auto kSliceLength = std::chrono::milliseconds(5);
// The UI thread is woken this often at the most: woken for every batch, its
// wake-ups would take turns on the processor with the receive thread mid-burst.
constexpr auto kWakeInterval = std::chrono::milliseconds(20);
// The last pass takes in what the system held when intake closed. Read until
// the socket is empty, it would not end while a stream that outpaces the
// receive lasts, as a flood does under Wine; this long takes in a full buffer
// of small datagrams on Linux, and a stock one under Wine, many times over.
constexpr auto kLastPassLength = std::chrono::milliseconds(200);
// Once the queue has held this much and is read empty, its memory goes back to
// the system instead of staying with the idle program.
constexpr std::size_t kReleaseAfterBytes = std::size_t{4} << 20;

std::size_t queuedCost(const ReceivedDatagram& datagram) { return sizeof datagram + datagram.payload.size(); }

}  // namespace

ArrivalQueue::~ArrivalQueue() { stopReceiving(); }

void ArrivalQueue::startReceiving(DatagramSource& source) {
    source_ = &source;
    thread_.start(source, *this);
}

void ArrivalQueue::stopReceiving() noexcept { thread_.stop(); }

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
    ReceivedDatagram& oldest = arrived_.front();
    ++readCount_;
    readBytes_ += queuedCost(oldest);
    oldest.payload.resize(std::min(oldest.payload.size(), static_cast<std::size_t>(maxBytes)));
    data = std::move(oldest.payload);
    arrived_.pop_front();
    if (announced_ > 0) {
        --announced_;
    }
    if (arrived_.empty() && peakBytes_ >= kReleaseAfterBytes) {
        peakBytes_ = 0;
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

DropCounts ArrivalQueue::drops() const {
    const std::lock_guard lock(mutex_);
    DropCounts counts;
    counts.atCaps = droppedAtCaps_;
    return counts;
}

void ArrivalQueue::takeIn(ReceiveBatch& batch) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        for (ReceivedDatagram& datagram : batch) {
            if (heldCount_ >= kMaxQueuedDatagrams || heldBytes_ >= kMaxQueuedBytes) {
                ++droppedAtCaps_;
                continue;
            }
            ++heldCount_;
            heldBytes_ += queuedCost(datagram);
            incoming_.push_back(std::move(datagram));
        }
        wake = wakeLocked().first;
    }
    batch.clear();
    if (wake) {
        requestSlice();
    }
}

std::chrono::milliseconds ArrivalQueue::caughtUp() {
    std::pair<bool, std::chrono::milliseconds> wake;
    {
        const std::lock_guard lock(mutex_);
        wake = wakeLocked();
    }
    if (wake.first) {
        requestSlice();
    }
    return wake.second;
}

std::pair<bool, std::chrono::milliseconds> ArrivalQueue::wakeLocked() {
    constexpr std::chrono::milliseconds kNoHurry{-1};
    if (sliceRequested_ || incoming_.empty()) {
        return {false, kNoHurry};
    }
    const auto now = std::chrono::steady_clock::now();
    if (const auto due = lastWake_ + kWakeInterval; now < due) {
        return {false, std::chrono::ceil<std::chrono::milliseconds>(due - now)};
    }
    sliceRequested_ = true;
    lastWake_ = now;
    return {true, kNoHurry};
}

void ArrivalQueue::receiveFailed(std::exception_ptr failure) noexcept {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        failure_ = std::move(failure);
        wake = !sliceRequested_;
        sliceRequested_ = true;
    }
    if (wake) {
        requestSlice();
    }
}

void ArrivalQueue::settleLocked(std::deque<ReceivedDatagram>& taken) {
    heldCount_ -= readCount_;
    heldBytes_ -= readBytes_;
    readCount_ = readBytes_ = 0;
    peakBytes_ = std::max(peakBytes_, heldBytes_);
    taken.swap(incoming_);  // constant time: the receive thread never waits on a copy
}

void ArrivalQueue::append(std::deque<ReceivedDatagram>& taken) {
    if (arrived_.empty()) {
        arrived_.swap(taken);
        return;
    }
    for (ReceivedDatagram& datagram : taken) {
        arrived_.push_back(std::move(datagram));
    }
    taken.clear();
}

bool ArrivalQueue::refill() {
    std::deque<ReceivedDatagram> taken;
    {
        const std::lock_guard lock(mutex_);
        settleLocked(taken);
    }
    append(taken);
    return announced_ < arrived_.size();
}

void ArrivalQueue::announceNext() {
    const ReceivedDatagram& next = arrived_[announced_];
    currentSender_ = Sender{next.address, next.port};
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
    std::size_t delivered = 0;
    while (!stopped_ && delivered < kMaxArrivalsPerSlice && (announced_ < arrived_.size() || refill())) {
        announceNext();
        ++delivered;
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    delivering_ = false;
    if (delivered > 0 && sliceEnd_ && !stopped_) {
        sliceEnd_();
    }
    if (!stopped_) {
        finishSlice();
    }
}

void ArrivalQueue::finishSlice() {
    if (refill()) {
        requestSlice();  // still requested: the receive thread leaves the waking to this side
        return;
    }
    std::exception_ptr failure;
    {
        const std::lock_guard lock(mutex_);
        if (!incoming_.empty()) {
            // Arrived since the refill: another slice, as requested still.
        } else if (failure_) {
            // Raised after every datagram taken in before it has been reported.
            failure = std::exchange(failure_, nullptr);
        } else {
            sliceRequested_ = false;
            return;
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
    requestSlice();
}

void ArrivalQueue::deliverPending() {
    run_([this] {
        if (stopped_ || intakeClosed_) {
            return;
        }
        stopReceiving();
        intakeClosed_ = true;
        // One pass over what the system holds now, bounded: under a steady
        // stream more would keep coming.
        if (source_ != nullptr) {
            ReceiveBatch batch;
            const auto end = std::chrono::steady_clock::now() + kLastPassLength;
            for (std::size_t taken = 0;
                 taken < kMaxQueuedDatagrams && std::chrono::steady_clock::now() < end && source_->receive(batch);) {
                taken += batch.size();
                takeIn(batch);
            }
        }
        while (!stopped_ && !delivering_ && (announced_ < arrived_.size() || refill() || failure_)) {
            deliverSlice();
        }
    });
}

void ArrivalQueue::stop() {
    stopped_ = true;
    stopReceiving();
}

}  // namespace zorvik

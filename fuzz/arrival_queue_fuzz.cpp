// The arrival queue as its receive thread and the UI thread use it, played in
// one thread in any order: batches of any count, size and sender, a failure of
// the receive thread, wake-ups answered or not, handlers that read or leave
// datagrams. Every datagram within the caps is announced once, in order, with
// its size and sender; GetData gives the oldest unread one, cut; the failure is
// raised once, after every datagram taken in before it; nothing is announced
// after stop, and nothing taken in after deliverPending.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>

#include <cstdio>
#include <deque>

#include "arrival_queue.hpp"
#include "failure.hpp"

namespace {

void require(bool holds, const char* invariant) {
    if (!holds) std::fprintf(stderr, "arrival queue: broken: %s\n", invariant), std::abort();
}

struct Datagram {
    std::uint32_t number, address;
    std::size_t size;
    std::string payload(std::size_t length) const {  // a function of the number, so that a mix-up shows
        std::string bytes(std::min(size, length), '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((number * 131U + i * 7U) & 0xFFU);
        return bytes;
    }
};

class Queue final : public zorvik::ArrivalQueue {
public:
    bool due = false;
    using ArrivalQueue::takeIn, ArrivalQueue::caughtUp, ArrivalQueue::receiveFailed;
    void setProtocol(std::int32_t) override {}
    std::int32_t SocketHandle() const override { return 3; }

protected:
    void requestSlice() noexcept override { due = true; }
    void sendDatagram(zorvik::Destination::Address, std::uint32_t, std::string_view) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    Queue queue;
    std::vector<Datagram> kept;   // taken in within the caps, in order
    std::deque<Datagram> unread;  // announced and not read
    std::size_t announced = 0, scriptedBytes = 0;
    bool stopped = false, closed = false, failed = false, raised = false;
    queue.runThrough([&](const std::function<void()>& callback) {
        try {
            callback();
        } catch (const zorvik::Failure& failure) {
            require(failed && !raised && failure.number() == EFAULT, "the receive thread's failure, once");
            require(announced == kept.size(), "the failure after every datagram taken in before it");
            raised = true;
        }
    });
    const auto readOldest = [&] {
        const auto maxBytes = input.ConsumeIntegralInRange<std::int32_t>(0, 70000);
        std::string bytes;
        queue.GetData(bytes, zorvik::DataType::Text, maxBytes);
        require(bytes == unread.front().payload(static_cast<std::size_t>(maxBytes)), "GetData gives the oldest");
        unread.pop_front();
    };
    queue.onDataArrival([&](std::int32_t bytes) {
        require(!stopped && announced < kept.size(), "only datagrams taken in, once, until stop");
        const Datagram& d = unread.emplace_back(kept[announced++]);
        char sender[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &d.address, sender, sizeof sender);
        require(bytes == static_cast<std::int32_t>(d.size) && queue.RemoteHostIP() == sender, "size and sender");
        if (input.ConsumeBool()) readOldest();
    });
    for (std::uint32_t scripted = 0; input.remaining_bytes() > 0;) {
        switch (input.ConsumeIntegralInRange(0, 5)) {
        case 0: {  // mostly small, like answers; sometimes anything up to the limit
            if (closed || failed) break;  // the thread has ended
            zorvik::ReceiveBatch batch;
            std::vector<Datagram> sent;
            for (int n = input.ConsumeIntegralInRange(1, 80); n > 0 && scriptedBytes < (32U << 20); --n) {
                const Datagram d{scripted++, input.ConsumeIntegral<std::uint32_t>(),
                                 input.ConsumeIntegralInRange<std::size_t>(0, input.ConsumeBool() ? 64 : 65507)};
                batch.push_back({d.address, input.ConsumeIntegral<std::uint16_t>(), d.payload(d.size)});
                sent.push_back(d);
                scriptedBytes += d.size;
            }
            queue.takeIn(batch);
            if (input.ConsumeBool()) queue.caughtUp();
            // The caps are far: nothing is dropped here.
            require(queue.drops().atCaps == 0, "dropped below the caps");
            kept.insert(kept.end(), sent.begin(), sent.end());
            break;
        }
        case 1:
            if (!closed && !failed) queue.receiveFailed(std::make_exception_ptr(zorvik::Failure(EFAULT, "bad"))), failed = true;
            break;
        case 2:
            if (std::exchange(queue.due, false)) queue.onSliceDue();
            break;
        case 3:  // only one announced already: one not yet announced never would be
            if (!unread.empty()) readOldest();
            break;
        case 4: queue.deliverPending(), closed = true; break;
        default: queue.stop(), closed = stopped = true;
        }
    }
    queue.deliverPending();
    require(stopped || announced == kept.size(), "every datagram taken in is announced");
    require(stopped || !failed || raised, "a failure is raised once everything before it is announced");
    return 0;
}

// The endpoint's shared parts as the receive thread and the UI thread use
// them, in any order: batches of any count, size and sender taken in by the
// receive thread, a failure of it, wake-ups answered or not, handlers that read
// or leave datagrams. Every datagram within the caps is announced once, in
// order, with its size and sender; GetData gives the oldest unread one, cut;
// the failure is raised once, after every datagram taken in before it; nothing
// is announced after stop, and nothing taken in after the intake is finished.
#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>

#include <cstdio>
#include <deque>

#include "endpoint_fakes.hpp"
#include "failure.hpp"
#include "protocol.hpp"
#include "udp_endpoint.hpp"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    auto* socket = new zorvik::testing::ScriptedSocket;
    auto* waker = new zorvik::testing::TestWaker;
    zorvik::UdpEndpoint endpoint({std::unique_ptr<zorvik::DatagramSocket>(socket), std::unique_ptr<zorvik::UiWaker>(waker)});
    endpoint.setProtocol(zorvik::protocol::kProtocolUdp);
    std::vector<Datagram> kept;   // taken in within the caps, in order
    std::deque<Datagram> unread;  // announced and not read
    std::size_t announced = 0, scriptedBytes = 0;
    bool stopped = false, closed = false, failed = false, raised = false;
    const auto raisedOnce = [&](const std::function<void()>& callback) {
        try {
            callback();
        } catch (const zorvik::Failure& failure) {
            require(failed && !raised && failure.number() == EFAULT, "the receive thread's failure, once");
            require(announced == kept.size(), "the failure after every datagram taken in before it");
            raised = true;
        }
    };
    endpoint.runThrough(raisedOnce);
    const auto readOldest = [&] {
        const auto maxBytes = input.ConsumeIntegralInRange<std::int32_t>(0, 70000);
        std::string bytes;
        endpoint.GetData(bytes, zorvik::DataType::Text, maxBytes);
        require(bytes == unread.front().payload(static_cast<std::size_t>(maxBytes)), "GetData gives the oldest");
        unread.pop_front();
    };
    endpoint.onDataArrival([&](const zorvik::ReceivedDatagram& arrival) {
        require(!stopped && announced < kept.size(), "only datagrams taken in, once, until stop");
        const Datagram& d = unread.emplace_back(kept[announced++]);
        char sender[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &d.address, sender, sizeof sender);
        require(arrival.payload.size() == d.size && endpoint.RemoteHostIP() == sender, "size and sender");
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
            kept.insert(kept.end(), sent.begin(), sent.end());
            socket->give(std::move(batch));
            // The caps are far: nothing is dropped here.
            require(endpoint.drops().atCaps == 0, "dropped below the caps");
            break;
        }
        case 1:
            if (!closed && !failed) socket->giveFailure(std::make_exception_ptr(zorvik::Failure(EFAULT, "bad"))), failed = true;
            break;
        case 2:
            waker->answer();
            break;
        case 3:  // only one announced already: one not yet announced never would be
            if (!unread.empty()) readOldest();
            break;
        case 4: raisedOnce([&] { endpoint.finishIntake(); }), closed = true; break;
        default: endpoint.stop(), closed = stopped = true;
        }
    }
    raisedOnce([&] { endpoint.finishIntake(); });
    require(stopped || announced == kept.size(), "every datagram taken in is announced");
    require(stopped || !failed || raised, "a failure is raised once everything before it is announced");
    return 0;
}

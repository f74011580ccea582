#include "udp_endpoint.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "failure.hpp"

namespace zorvik {
namespace {

// The last pass takes in what the system held when intake closed. Read until
// the socket is empty, it would not end while a stream that outpaces the
// receive lasts, as a flood does under Wine; this long takes in a full buffer
// of small datagrams on Linux, and a stock one under Wine, many times over.
constexpr auto kLastPassLength = std::chrono::milliseconds(200);
// Once the queue has held this much and is read empty, its memory goes back to
// the system instead of staying with the idle program.
constexpr std::size_t kReleaseAfterBytes = std::size_t{4} << 20;

}  // namespace

UdpEndpoint::UdpEndpoint(EndpointParts parts)
    : parts_(std::move(parts)),
      thread_(queue_, [waker = parts_.waker.get()] { waker->wake(); }),
      slices_(queue_, thread_, *parts_.waker) {
    slices_.handle({.arrival = [this](ReceivedDatagram&& datagram) { arrived(std::move(datagram)); },
                    .sliceEnd = [this] {
                        if (sliceEnd_) sliceEnd_();
                    }});
}

// The thread goes before the socket and the waker it uses.
UdpEndpoint::~UdpEndpoint() { thread_.stop(); }

void UdpEndpoint::setProtocol(std::int32_t protocol) {
    parts_.socket->open(protocol);
    if (!thread_.started()) {
        thread_.start(*parts_.socket);
    }
}

void UdpEndpoint::SendData(std::string_view payload) {
    static_cast<void>(parts_.socket->handle());  // no socket is the first fault to report
    const Destination::Address to = destination_.require();
    destination_.forEachInterface([&](std::uint32_t by) { parts_.socket->send(to, by, payload); });
}

void UdpEndpoint::GetData(std::string& data, DataType, std::int32_t maxBytes) {
    if (maxBytes < 0) {
        throw Failure(EINVAL, "invalid byte count " + std::to_string(maxBytes));
    }
    if (unread_.empty()) {
        throw Failure(EAGAIN, "no datagram has arrived to be read");
    }
    ReceivedDatagram& oldest = unread_.front();
    queue_.release(oldest);  // before the cut: what it counted against the caps
    oldest.payload.resize(std::min(oldest.payload.size(), static_cast<std::size_t>(maxBytes)));
    data = std::move(oldest.payload);
    unread_.pop_front();
    if (unread_.empty() && peakBytes_ >= kReleaseAfterBytes) {
        peakBytes_ = 0;
        unread_.shrink_to_fit();
        if (parts_.giveMemoryBack != nullptr) {
            parts_.giveMemoryBack();
        }
    }
}

std::string UdpEndpoint::RemoteHostIP() const {
    if (!currentSender_) {
        throw Failure(EDESTADDRREQ, "no datagram has arrived yet, so there is no sender");
    }
    return dottedAddress(*currentSender_);
}

void UdpEndpoint::arrived(ReceivedDatagram&& datagram) {
    peakBytes_ = std::max(peakBytes_, queue_.heldBytes());
    currentSender_ = datagram.address;
    const ReceivedDatagram& reported = unread_.emplace_back(std::move(datagram));
    if (arrival_) {
        arrival_(reported);
    }
}

void UdpEndpoint::finishIntake() {
    if (!intakeOpen_) {
        return;
    }
    intakeOpen_ = false;
    thread_.stop(kLastPassLength);
    slices_.deliverAll();
}

void UdpEndpoint::stop() noexcept {
    intakeOpen_ = false;
    slices_.stop();
    thread_.stop();
}

DropCounts UdpEndpoint::drops() const {
    const SystemDrops system = parts_.socket->drops();
    return {system.dropped, queue_.droppedAtCaps(), system.bufferBytes};
}

}  // namespace zorvik

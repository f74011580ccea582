#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "arrival_queue.hpp"
#include "controls.hpp"
#include "datagram_socket.hpp"
#include "delivery_slices.hpp"
#include "destination.hpp"
#include "receive_thread.hpp"
#include "ui_waker.hpp"

namespace zorvik {

// What the program knows of the answers it lost: those the system dropped for
// want of room in the socket's receive buffer, where the system counts them,
// and those the program dropped at its own caps.
struct DropCounts {
    std::optional<std::uint64_t> bySystem;
    std::uint64_t atCaps = 0;
    std::optional<std::int64_t> bufferBytes;  // the receive buffer the system granted
};

// What only the platform provides.
struct EndpointParts {
    std::unique_ptr<DatagramSocket> socket;
    std::unique_ptr<UiWaker> waker;
    // Gives the heap's free memory back to the system, once a flood is read.
    void (*giveMemoryBack)() noexcept = nullptr;
};

// The datagram endpoint, Winsock1, on either platform: where it sends, and the
// datagrams it has received, reported on the UI thread.
//
// From the moment the protocol is set a receive thread empties the socket into
// the arrival queue as datagrams come, so that none is dropped by the system
// while a handler, a layout or a paint keeps the UI thread busy; the slices
// then report them one at a time, in order. GetData takes exactly the oldest
// datagram reported and not yet read; RemoteHostIP is the sender of the one
// that raised the current arrival.
class UdpEndpoint final : public DatagramEndpoint {
public:
    // Called once per arrived datagram, from a slice, with the datagram as it
    // arrived (sender, port, payload and time).
    using ArrivalHandler = std::function<void(const ReceivedDatagram& arrival)>;

    explicit UdpEndpoint(EndpointParts parts);
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override { return parts_.socket->handle(); }
    void setRemotePort(std::int32_t port) override { destination_.setPort(port); }
    void setRemoteHost(std::string_view host) override { destination_.setHost(host); }
    // One datagram to the remote host and port, by each interface of leaveBy.
    void SendData(std::string_view payload) override;
    void GetData(std::string& data, DataType type, std::int32_t maxBytes) override;
    std::string RemoteHostIP() const override;

    // A group datagram leaves by each of these interfaces (IPv4 addresses,
    // network byte order), one copy each; with none, by the route's choice.
    void leaveBy(std::vector<std::uint32_t> interfaceAddresses) { destination_.leaveBy(std::move(interfaceAddresses)); }

    // A group datagram may cross ttl - 1 routers (1 to 255; 1 by default).
    void setGroupTtl(std::int32_t ttl) { destination_.setGroupTtl(ttl); }

    void onDataArrival(ArrivalHandler handler) { arrival_ = std::move(handler); }
    void onSliceEnd(std::function<void()> handler) { sliceEnd_ = std::move(handler); }
    // Every slice from the event loop runs through `runner`.
    void runThrough(DeliverySlices::Runner runner) { slices_.runThrough(std::move(runner)); }

    // For the end, from a handler: stops the receive thread, takes in what the
    // system holds now (one pass, within the caps and 200 ms), then nothing
    // more, ever; reports every datagram not yet reported, and returns. Throws
    // the receive thread's failure, after the datagrams taken in before it.
    void finishIntake();
    // Takes in and reports nothing more, ever: the program is ending.
    void stop() noexcept;

    // Answers lost so far, by the system and at the caps.
    DropCounts drops() const;
    // The port the system gave the socket, 0 while it has none.
    std::uint16_t localPort() const { return parts_.socket->localPort(); }

private:
    void arrived(ReceivedDatagram&& datagram);

    EndpointParts parts_;
    Destination destination_;
    ArrivalQueue queue_;
    ReceiveThread thread_;
    DeliverySlices slices_;
    ArrivalHandler arrival_;
    std::function<void()> sliceEnd_;
    // Reported and not yet read, oldest first.
    std::deque<ReceivedDatagram> unread_;
    std::optional<std::uint32_t> currentSender_;  // of the datagram that raised the current arrival
    // The most payload held since memory was last given back to the system.
    std::size_t peakBytes_ = 0;
    bool intakeOpen_ = true;
};

}  // namespace zorvik

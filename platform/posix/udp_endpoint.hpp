#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>

#include "arrival_queue.hpp"
#include "system_calls.hpp"
#include "unique_socket.hpp"

namespace zorvik {

// The window's datagram endpoint over a POSIX UDP socket.
//
// The socket is never bound or connected: the kernel gives it a port at the
// first send and it receives there until the endpoint goes. From the moment the
// protocol is set, a receive thread waits on it (poll) and empties it with
// recvmmsg into the shared arrival queue, which delivers the arrivals on the UI
// thread. How that thread is woken is the event loop's business: a subclass
// provides requestSlice().
class UdpEndpoint : public ArrivalQueue, private DatagramSource {
public:
    explicit UdpEndpoint(SystemCalls& calls = realSystemCalls());
    ~UdpEndpoint() override;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override;

    // The port the kernel gave the socket, 0 before the first send.
    std::uint16_t localPort() const;

    // Adds the kernel's count of datagrams it dropped on this socket, and the
    // receive buffer it granted.
    DropCounts drops() const override;

protected:
    void releaseMemory() override;
    void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;

private:
    struct ReceiveStorage;

    int requireSocket() const;

    // DatagramSource, on the receive thread.
    bool receive(ReceiveBatch& batch) override;
    bool waitForDatagrams(std::chrono::milliseconds timeout) override;
    void interrupt() noexcept override;

    SystemCalls& calls_;
    UniqueSocket socket_;
    UniqueSocket stopSignal_;  // an eventfd: readable once the thread is to stop
    std::unique_ptr<ReceiveStorage> storage_;
};

}  // namespace zorvik

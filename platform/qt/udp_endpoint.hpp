#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>

#include <QTimer>

#include "arrival_queue.hpp"
#include "system_calls.hpp"
#include "unique_socket.hpp"

class QSocketNotifier;

namespace zorvik {

// The window's datagram endpoint over a POSIX UDP socket.
//
// The socket is never bound or connected: the kernel gives it a port at the
// first send and it receives there until the endpoint goes. A QSocketNotifier
// reports it readable through Qt's event loop; it is then drained with
// recvmmsg into the shared arrival queue, which delivers the arrivals.
class UdpEndpoint final : public ArrivalQueue {
public:
    explicit UdpEndpoint(SystemCalls& calls = realSystemCalls());
    ~UdpEndpoint() override;
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override;

    // The port the kernel gave the socket, 0 before the first send.
    std::uint16_t localPort() const;

protected:
    void drainSystemQueue() override;
    void scheduleSlice() override { deliveryTimer_.start(); }
    void watchReadable(bool on) override;
    void releaseMemory() override;
    void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;

private:
    struct ReceiveBatch;

    int requireSocket() const;

    SystemCalls& calls_;
    UniqueSocket socket_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer deliveryTimer_;
    std::unique_ptr<ReceiveBatch> batch_;
};

}  // namespace zorvik

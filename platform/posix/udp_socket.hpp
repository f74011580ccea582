#pragma once

#include <cstdint>
#include <memory>

#include "datagram_socket.hpp"
#include "system_calls.hpp"
#include "unique_fd.hpp"

namespace zorvik {

// The endpoint's socket on Linux: a UDP socket that is never bound or
// connected. The kernel gives it a port at the first send and it receives
// there until it goes. The receive side waits with poll on the socket and an
// eventfd that interrupt() makes readable, and empties it with recvmmsg.
class UdpSocket final : public DatagramSocket {
public:
    explicit UdpSocket(SystemCalls& calls = realSystemCalls());
    ~UdpSocket() override;

    void open(std::int32_t protocol) override;
    bool isOpen() const noexcept override { return socket_.valid(); }
    std::int32_t handle() const override { return requireSocket(); }
    void send(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;
    std::uint16_t localPort() const override;
    // The kernel's count of datagrams it dropped on this socket, and the
    // receive buffer it granted.
    SystemDrops drops() const override;

    bool receive(ReceiveBatch& batch) override;
    bool waitForDatagrams(std::chrono::milliseconds timeout) override;
    void interrupt() noexcept override;

private:
    struct ReceiveStorage;

    int requireSocket() const;

    SystemCalls& calls_;
    UniqueFd socket_;
    UniqueFd stopSignal_;  // an eventfd: readable once the receive side is to stop
    std::unique_ptr<ReceiveStorage> storage_;
    std::uint8_t groupTtl_ = 1;  // the multicast TTL in force on the socket
};

// Gives the heap's free memory back to the kernel.
void giveMemoryBack() noexcept;

}  // namespace zorvik

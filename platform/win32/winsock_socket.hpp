#pragma once

#include <memory>

#include "datagram_socket.hpp"
#include "failure.hpp"
#include "unique_handles.hpp"
#include "winsock_calls.hpp"

namespace zorvik::win32 {

// The endpoint's socket on Windows: a Winsock UDP socket, bound when it opens
// to a port the system assigns (Windows cannot receive on a socket without
// one). The receive side waits on the socket's read event and a stop event
// that interrupt() sets, and empties the socket with WSARecvMsg, which says
// where each datagram was sent, so that group traffic is left out.
class WinsockSocket final : public DatagramSocket {
public:
    explicit WinsockSocket(WinsockCalls& calls = realWinsockCalls());

    void open(std::int32_t protocol) override;
    bool isOpen() const noexcept override { return socket_.valid(); }
    // Socket handles are small numbers, well within 32 bits.
    std::int32_t handle() const override { return static_cast<std::int32_t>(requireSocket()); }
    void send(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;
    std::uint16_t localPort() const override;
    // Windows counts no drops of its own for a socket.
    SystemDrops drops() const override { return {}; }

    bool receive(ReceiveBatch& batch) override;
    bool waitForDatagrams(std::chrono::milliseconds timeout) override;
    void interrupt() noexcept override;

private:
    SOCKET requireSocket() const;
    Failure socketError() const;

    WinsockCalls& calls_;
    UniqueSocket socket_;
    std::uint8_t groupTtl_ = 1;  // the multicast TTL in force on the socket
    UniqueSocketEvent readable_;
    UniqueEvent stopping_;
    LPFN_WSARECVMSG receiveMessage_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // the receive side's
};

}  // namespace zorvik::win32

#pragma once

#include <winsock2.h>
#include <mswsock.h>

#include <memory>

#include "arrival_queue.hpp"
#include "message_window.hpp"

namespace zorvik::win32 {

// The window's datagram endpoint over a Winsock UDP socket.
//
// The socket is never bound or connected: the system gives it a port at the
// first send and it receives there until the endpoint goes. Readiness arrives
// as a window message (WSAAsyncSelect), so datagrams reach the program through
// the one message loop, and the socket is drained into the shared arrival queue.
class WinsockEndpoint final : public ArrivalQueue {
public:
    WinsockEndpoint();
    ~WinsockEndpoint() override;
    WinsockEndpoint(const WinsockEndpoint&) = delete;
    WinsockEndpoint& operator=(const WinsockEndpoint&) = delete;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override;

    // The port the system gave the socket, 0 before the first send.
    std::uint16_t localPort() const;

protected:
    void drainSystemQueue() override;
    void scheduleSlice() override;
    void watchReadable(bool on) override;
    void releaseMemory() override;
    void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;

private:
    SOCKET requireSocket() const;
    void onMessage(UINT message);

    SOCKET socket_ = INVALID_SOCKET;
    LPFN_WSARECVMSG receiveMessage_ = nullptr;
    MessageWindow window_;
    std::unique_ptr<char[]> buffer_;
    bool slicePosted_ = false;
};

}  // namespace zorvik::win32

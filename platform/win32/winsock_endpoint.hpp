#pragma once

#include <winsock2.h>
#include <mswsock.h>

#include <memory>

#include "arrival_queue.hpp"
#include "message_window.hpp"

namespace zorvik::win32 {

// The window's datagram endpoint over a Winsock UDP socket.
//
// When the protocol is set, the socket is bound to a port the system assigns
// (Windows cannot receive on a socket without one), and a receive thread starts
// that waits on the socket's read event and a stop event, and empties the socket
// into the shared arrival queue. It wakes the UI thread with a posted message;
// slices run only while no input, painting or timer waits, since Windows hands
// out posted messages before all of those.
class WinsockEndpoint final : public ArrivalQueue, private DatagramSource {
public:
    WinsockEndpoint();
    ~WinsockEndpoint() override;

    void setProtocol(std::int32_t protocol) override;
    std::int32_t SocketHandle() const override;

    // The port the system gave the socket, 0 before the protocol is set.
    std::uint16_t localPort() const;

protected:
    void requestSlice() noexcept override;
    void releaseMemory() override;
    void sendDatagram(Destination::Address to, std::uint32_t byInterface, std::string_view payload) override;

private:
    SOCKET requireSocket() const;
    void onMessage(UINT message, WPARAM wParam);

    // DatagramSource, on the receive thread.
    bool receive(ReceiveBatch& batch) override;
    bool waitForDatagrams(std::chrono::milliseconds timeout) override;
    void interrupt() noexcept override;

    SOCKET socket_ = INVALID_SOCKET;
    WSAEVENT readable_ = WSA_INVALID_EVENT;
    HANDLE stopping_ = nullptr;
    LPFN_WSARECVMSG receiveMessage_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // the receive thread's
    MessageWindow window_;
};

}  // namespace zorvik::win32

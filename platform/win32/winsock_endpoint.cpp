#include "winsock_endpoint.hpp"

#include <malloc.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "protocol.hpp"
#include "system_error.hpp"

namespace zorvik::win32 {
namespace {

constexpr UINT kSocketMessage = WM_APP + 1;
constexpr UINT kSliceMessage = WM_APP + 2;
// The largest an IPv4 UDP datagram can be, rounded up.
constexpr int kMaxDatagram = 65536;
// Winsock's control code that stops reporting ICMP port unreachable as a failed
// receive; mingw-w64's headers leave it out.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);
// Errors such as ICMP reports are consumed one per call; stop after this many.
constexpr int kMaxErrorsPerDrain = 64;

// Winsock is started once for the program and stays up until it ends.
void startWinsock() {
    static const bool started = [] {
        WSADATA data;
        if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
            throw systemFailure(static_cast<unsigned long>(error));
        }
        return true;
    }();
    static_cast<void>(started);
}

// Traffic sent to a multicast group reaches the socket on some systems even
// though it never joined; only datagrams sent to the endpoint itself are answers.
bool sentToGroup(WSAMSG& message) {
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
            return IN_MULTICAST(ntohl(info.ipi_addr.s_addr));
        }
    }
    return false;
}

}  // namespace

WinsockEndpoint::WinsockEndpoint()
    : window_([this](UINT message, WPARAM, LPARAM) { onMessage(message); }) {
    startWinsock();
}

WinsockEndpoint::~WinsockEndpoint() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
}

void WinsockEndpoint::setProtocol(std::int32_t protocol) {
    if (protocol != protocol::kProtocolUdp) {
        throw systemFailure(WSAEPROTONOSUPPORT);
    }
    if (socket_ != INVALID_SOCKET) {
        return;
    }
    SOCKET created = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (created == INVALID_SOCKET) {
        throw lastSocketError();
    }
    // Windows reports an ICMP port unreachable for an earlier send as a failed
    // receive (WSAECONNRESET); such a report is no answer, so it is turned off.
    BOOL report = FALSE;
    DWORD returned = 0;
    // Each datagram's destination comes with it, so group traffic can be told apart.
    const DWORD withDestination = TRUE;
    GUID receiveMessageId = WSAID_WSARECVMSG;
    if (WSAIoctl(created, kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr) !=
            0 ||
        setsockopt(created, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&withDestination),
                   sizeof withDestination) != 0 ||
        WSAIoctl(created, SIO_GET_EXTENSION_FUNCTION_POINTER, &receiveMessageId, sizeof receiveMessageId,
                 &receiveMessage_, sizeof receiveMessage_, &returned, nullptr, nullptr) != 0 ||
        WSAAsyncSelect(created, window_.handle(), kSocketMessage, FD_READ) != 0) {
        const Failure failure = lastSocketError();
        closesocket(created);
        throw failure;
    }
    socket_ = created;
}

SOCKET WinsockEndpoint::requireSocket() const {
    if (socket_ == INVALID_SOCKET) {
        throw systemFailure(WSAENOTSOCK);
    }
    return socket_;
}

// Socket handles are small numbers, well within 32 bits.
std::int32_t WinsockEndpoint::SocketHandle() const { return static_cast<std::int32_t>(requireSocket()); }

void WinsockEndpoint::sendDatagram(Destination::Address at, std::uint32_t byInterface, std::string_view payload) {
    const SOCKET s = requireSocket();
    const DWORD interface = byInterface;
    if (byInterface != 0 && setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&interface),
                                       sizeof interface) == SOCKET_ERROR) {
        throw lastSocketError();
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = at.port;
    to.sin_addr.s_addr = at.address;
    for (bool waited = false;; waited = true) {
        if (sendto(s, payload.data(), static_cast<int>(payload.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to) != SOCKET_ERROR) {
            return;
        }
        // The socket is non-blocking for receiving; a full send buffer is
        // worth one bounded wait before it counts as a failure.
        if (WSAGetLastError() != WSAEWOULDBLOCK || waited) {
            throw lastSocketError();
        }
        WSAPOLLFD writable{s, POLLWRNORM, 0};
        WSAPoll(&writable, 1, 1000);
    }
}

std::uint16_t WinsockEndpoint::localPort() const {
    sockaddr_in local{};
    int length = sizeof local;
    if (socket_ == INVALID_SOCKET || getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

void WinsockEndpoint::drainSystemQueue() {
    if (socket_ == INVALID_SOCKET) {
        return;
    }
    if (!buffer_) {
        buffer_ = std::make_unique_for_overwrite<char[]>(kMaxDatagram);
    }
    int errors = 0;
    while (!full()) {
        sockaddr_in from{};
        char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSABUF data{kMaxDatagram, buffer_.get()};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control = {sizeof control, control};
        DWORD received = 0;
        if (receiveMessage_(socket_, &message, &received, nullptr, nullptr) == SOCKET_ERROR) {
            // WSAEWOULDBLOCK: the queue is empty. Anything else is an error the
            // system reports outside any operation; nobody asked for it, so it is dropped.
            if (WSAGetLastError() == WSAEWOULDBLOCK || ++errors > kMaxErrorsPerDrain) {
                return;
            }
            continue;
        }
        if (!sentToGroup(message)) {
            push({from.sin_addr.s_addr, from.sin_port}, std::string_view(buffer_.get(), received));
        }
    }
}

void WinsockEndpoint::scheduleSlice() {
    if (!slicePosted_ && PostMessageW(window_.handle(), kSliceMessage, 0, 0)) {
        slicePosted_ = true;
    }
}

void WinsockEndpoint::watchReadable(bool on) {
    if (socket_ != INVALID_SOCKET) {
        WSAAsyncSelect(socket_, window_.handle(), kSocketMessage, on ? FD_READ : 0);
    }
}

void WinsockEndpoint::releaseMemory() {
    buffer_.reset();
    _heapmin();
}

void WinsockEndpoint::onMessage(UINT message) {
    if (message == kSocketMessage) {
        run([this] { onReadable(); });
    } else if (message == kSliceMessage) {
        slicePosted_ = false;
        run([this] { deliverSlice(); });
    }
}

}  // namespace zorvik::win32

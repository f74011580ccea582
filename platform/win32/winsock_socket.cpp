#include "winsock_socket.hpp"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <array>
#include <cstring>

#include "protocol.hpp"
#include "system_error.hpp"

namespace zorvik::win32 {
namespace {

// The largest an IPv4 UDP datagram can be, rounded up, and the receive calls
// made at most for one batch.
constexpr int kMaxDatagram = 65536;
constexpr std::size_t kBatchSize = 64;
// Winsock's control code that stops reporting ICMP port unreachable as a failed
// receive; mingw-w64's headers leave it out.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

// Winsock is started once for the program and stays up until it ends.
void startWinsock(WinsockCalls& calls) {
    static const bool started = [&calls] {
        WSADATA data;
        if (const int error = calls.WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
            throw systemFailure(static_cast<unsigned long>(error));
        }
        return true;
    }();
    static_cast<void>(started);
}

// A datagram's destination and the index of the interface it came in on, from
// its IP_PKTINFO; none of either without one.
IN_PKTINFO packetInfo(WSAMSG& message) {
    IN_PKTINFO info{};
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
            break;
        }
    }
    return info;
}

// What a socket may report of an earlier send, outside any operation: nobody
// asked for it, so it is skipped.
bool reportOfEarlierSend(int error) {
    return error == WSAECONNRESET || error == WSAENETRESET || error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
}

}  // namespace

WinsockSocket::WinsockSocket(WinsockCalls& calls) : calls_(calls) { startWinsock(calls_); }

Failure WinsockSocket::socketError() const { return systemFailure(static_cast<unsigned long>(calls_.WSAGetLastError())); }

void WinsockSocket::open(std::int32_t protocol) {
    if (protocol != protocol::kProtocolUdp) {
        throw systemFailure(WSAEPROTONOSUPPORT);
    }
    if (socket_.valid()) {
        return;
    }
    UniqueSocket created(calls_, calls_.socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!created.valid()) {
        throw socketError();
    }
    UniqueSocketEvent readable(calls_, calls_.WSACreateEvent());
    if (!readable.valid()) {
        throw socketError();
    }
    // Windows reports an ICMP port unreachable for an earlier send as a failed
    // receive (WSAECONNRESET); such a report is no answer, so it is turned off.
    BOOL report = FALSE;
    DWORD returned = 0;
    if (calls_.WSAIoctl(created.get(), kUdpConnReset, &report, sizeof report, nullptr, 0, &returned) != 0) {
        throw socketError();
    }
    // Each datagram's destination comes with it, so group traffic can be told apart.
    const DWORD withDestination = TRUE;
    if (calls_.setsockopt(created.get(), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&withDestination),
                          sizeof withDestination) != 0) {
        throw socketError();
    }
    GUID receiveMessageId = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG receiveMessage = nullptr;
    if (calls_.WSAIoctl(created.get(), SIO_GET_EXTENSION_FUNCTION_POINTER, &receiveMessageId,
                        sizeof receiveMessageId, &receiveMessage, sizeof receiveMessage, &returned) != 0) {
        throw socketError();
    }
    // Port 0: the system assigns one, as it would at the first send.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (calls_.bind(created.get(), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        throw socketError();
    }
    if (calls_.WSAEventSelect(created.get(), readable.get(), FD_READ) != 0) {
        throw socketError();
    }
    UniqueEvent stopping(calls_, calls_.CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopping.valid()) {
        throw systemFailure(calls_.GetLastError());
    }
    socket_ = std::move(created);
    readable_ = std::move(readable);
    stopping_ = std::move(stopping);
    receiveMessage_ = receiveMessage;
    buffer_ = std::make_unique_for_overwrite<char[]>(kMaxDatagram);
}

SOCKET WinsockSocket::requireSocket() const {
    if (!socket_.valid()) {
        throw systemFailure(WSAENOTSOCK);
    }
    return socket_.get();
}

void WinsockSocket::send(Destination::Address at, std::uint32_t byInterface, std::string_view payload) {
    const SOCKET s = requireSocket();
    const DWORD interface = byInterface;
    if (byInterface != 0 && calls_.setsockopt(s, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&interface),
                                              sizeof interface) == SOCKET_ERROR) {
        throw socketError();
    }
    // The system's default is 1: a call only when the TTL changes from the one in force.
    if (at.groupTtl != groupTtl_) {
        const DWORD ttl = at.groupTtl;
        if (calls_.setsockopt(s, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl) ==
            SOCKET_ERROR) {
            throw socketError();
        }
        groupTtl_ = at.groupTtl;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = at.port;
    to.sin_addr.s_addr = at.address;
    for (bool waited = false;; waited = true) {
        if (calls_.sendto(s, payload.data(), static_cast<int>(payload.size()), 0,
                          reinterpret_cast<const sockaddr*>(&to), sizeof to) != SOCKET_ERROR) {
            return;
        }
        // The read event makes the socket non-blocking; a full send buffer is
        // worth one bounded wait before it counts as a failure.
        const int error = calls_.WSAGetLastError();
        if (error != WSAEWOULDBLOCK || waited) {
            throw systemFailure(static_cast<unsigned long>(error));
        }
        WSAPOLLFD writable{s, POLLWRNORM, 0};
        calls_.WSAPoll(&writable, 1, 1000);
    }
}

std::uint16_t WinsockSocket::localPort() const {
    sockaddr_in local{};
    int length = sizeof local;
    if (!socket_.valid() || calls_.getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

bool WinsockSocket::receive(ReceiveBatch& batch) {
    const std::size_t before = batch.size();
    // At most one batch of calls, reports of earlier sends included, so that the
    // receive thread looks at its stop request however long such reports go on.
    for (std::size_t calls = 0; calls < kBatchSize; ++calls) {
        sockaddr_in from{};
        std::array<char, WSA_CMSG_SPACE(sizeof(IN_PKTINFO))> control{};
        WSABUF data{kMaxDatagram, buffer_.get()};
        WSAMSG message{};
        message.name = reinterpret_cast<sockaddr*>(&from);
        message.namelen = sizeof from;
        message.lpBuffers = &data;
        message.dwBufferCount = 1;
        message.Control = {static_cast<ULONG>(control.size()), control.data()};
        DWORD received = 0;
        if (calls_.WSARecvMsg(receiveMessage_, socket_.get(), &message, &received) == SOCKET_ERROR) {
            const int error = calls_.WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                break;
            }
            if (!reportOfEarlierSend(error)) {
                throw systemFailure(static_cast<unsigned long>(error));
            }
            continue;
        }
        // Traffic sent to a multicast group reaches the socket on some systems even
        // though it never joined; only datagrams sent to the endpoint itself are answers.
        if (const IN_PKTINFO info = packetInfo(message); !IN_MULTICAST(ntohl(info.ipi_addr.s_addr))) {
            batch.push_back({from.sin_addr.s_addr, from.sin_port, std::string(buffer_.get(), received), {},
                             static_cast<std::uint32_t>(info.ipi_ifindex)});
        }
    }
    return batch.size() > before;
}

bool WinsockSocket::waitForDatagrams(std::chrono::milliseconds timeout) {
    const std::array<HANDLE, 2> events{stopping_.get(), readable_.get()};
    const DWORD wait = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
    switch (calls_.WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, wait)) {
    case WAIT_OBJECT_0:
        return false;
    case WAIT_TIMEOUT:
        return true;
    case WAIT_OBJECT_0 + 1: {
        // Resets the read event; the next receive that finds the socket empty
        // lets the system set it again when more arrives.
        WSANETWORKEVENTS happened{};
        if (calls_.WSAEnumNetworkEvents(socket_.get(), readable_.get(), &happened) != 0) {
            throw socketError();
        }
        return true;
    }
    default:
        throw systemFailure(calls_.GetLastError());
    }
}

void WinsockSocket::interrupt() noexcept { calls_.SetEvent(stopping_.get()); }

}  // namespace zorvik::win32

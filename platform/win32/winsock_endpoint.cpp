#include "winsock_endpoint.hpp"

#include <malloc.h>
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "protocol.hpp"
#include "system_error.hpp"

namespace zorvik::win32 {
namespace {

constexpr UINT kSliceMessage = WM_APP + 2;
constexpr UINT_PTR kSliceTimer = 1;
// The largest an IPv4 UDP datagram can be, rounded up, and the datagrams
// handed over at once.
constexpr int kMaxDatagram = 65536;
constexpr std::size_t kBatchSize = 64;
// Winsock's control code that stops reporting ICMP port unreachable as a failed
// receive; mingw-w64's headers leave it out.
constexpr DWORD kUdpConnReset = _WSAIOW(IOC_VENDOR, 12);

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

// What a socket may report of an earlier send, outside any operation: nobody
// asked for it, so it is skipped.
bool reportOfEarlierSend(int error) {
    return error == WSAECONNRESET || error == WSAENETRESET || error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
}

}  // namespace

WinsockEndpoint::WinsockEndpoint()
    : window_([this](UINT message, WPARAM wParam, LPARAM) { onMessage(message, wParam); }) {
    startWinsock();
}

WinsockEndpoint::~WinsockEndpoint() {
    stopReceiving();
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
    if (readable_ != WSA_INVALID_EVENT) {
        WSACloseEvent(readable_);
    }
    if (stopping_ != nullptr) {
        CloseHandle(stopping_);
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
    // Port 0: the system assigns one, as it would at the first send.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    WSAEVENT readable = WSACreateEvent();
    if (readable == WSA_INVALID_EVENT ||
        WSAIoctl(created, kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr) != 0 ||
        setsockopt(created, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&withDestination),
                   sizeof withDestination) != 0 ||
        WSAIoctl(created, SIO_GET_EXTENSION_FUNCTION_POINTER, &receiveMessageId, sizeof receiveMessageId,
                 &receiveMessage_, sizeof receiveMessage_, &returned, nullptr, nullptr) != 0 ||
        bind(created, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0 ||
        WSAEventSelect(created, readable, FD_READ) != 0) {
        const Failure failure = lastSocketError();
        closesocket(created);
        if (readable != WSA_INVALID_EVENT) {
            WSACloseEvent(readable);
        }
        throw failure;
    }
    HANDLE stopping = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stopping == nullptr) {
        const Failure failure = lastError();
        closesocket(created);
        WSACloseEvent(readable);
        throw failure;
    }
    socket_ = created;
    readable_ = readable;
    stopping_ = stopping;
    buffer_ = std::make_unique_for_overwrite<char[]>(kMaxDatagram);
    startReceiving(*this);
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
        // The read event makes the socket non-blocking; a full send buffer is
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

bool WinsockEndpoint::receive(ReceiveBatch& batch) {
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
        if (receiveMessage_(socket_, &message, &received, nullptr, nullptr) == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                break;
            }
            if (!reportOfEarlierSend(error)) {
                throw systemFailure(static_cast<unsigned long>(error));
            }
            continue;
        }
        if (!sentToGroup(message)) {
            batch.push_back({from.sin_addr.s_addr, from.sin_port, std::string(buffer_.get(), received)});
        }
    }
    return batch.size() > before;
}

bool WinsockEndpoint::waitForDatagrams(std::chrono::milliseconds timeout) {
    const std::array<HANDLE, 2> events{stopping_, readable_};
    const DWORD wait = timeout.count() < 0 ? INFINITE : static_cast<DWORD>(timeout.count());
    switch (WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, wait)) {
    case WAIT_OBJECT_0:
        return false;
    case WAIT_TIMEOUT:
        return true;
    case WAIT_OBJECT_0 + 1: {
        // Resets the read event; the next receive that finds the socket empty
        // lets the system set it again when more arrives.
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(socket_, readable_, &happened) != 0) {
            throw lastSocketError();
        }
        return true;
    }
    default:
        throw lastError();
    }
}

void WinsockEndpoint::interrupt() noexcept { SetEvent(stopping_); }

void WinsockEndpoint::requestSlice() noexcept { PostMessageW(window_.handle(), kSliceMessage, 0, 0); }

void WinsockEndpoint::releaseMemory() { _heapmin(); }

void WinsockEndpoint::onMessage(UINT message, WPARAM wParam) {
    if (message == WM_TIMER && wParam == kSliceTimer) {
        KillTimer(window_.handle(), kSliceTimer);
        onSliceDue();
    } else if (message == kSliceMessage) {
        // Posted messages come before input, paint and timer messages, which
        // Windows makes only when nothing else waits: while any of them waits,
        // the slice follows them by a timer, as a timer message comes last.
        if (HIWORD(GetQueueStatus(QS_INPUT | QS_PAINT | QS_TIMER)) != 0) {
            SetTimer(window_.handle(), kSliceTimer, USER_TIMER_MINIMUM, nullptr);
        } else {
            onSliceDue();
        }
    }
}

}  // namespace zorvik::win32

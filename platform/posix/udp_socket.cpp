#include "udp_socket.hpp"

#include <linux/sock_diag.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "failure.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

// Datagrams taken from the kernel per call, and the largest an IPv4 UDP
// datagram can be, rounded up.
constexpr unsigned kBatchSize = 64;
constexpr std::size_t kMaxDatagram = 65536;
// A call that is interrupted, or that reports an earlier send, is tried again
// this often in all; then the caller's loop, which sees a stop, has its turn.
constexpr int kAttempts = 4;

// What an unconnected UDP socket may report of an earlier send (an ICMP
// message, outside any operation): nobody asked for it, so it is skipped.
bool reportOfEarlierSend(int error) {
    switch (error) {
    case ECONNREFUSED:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENONET:
    case EPROTO:
    case EMSGSIZE:
        return true;
    default:
        return false;
    }
}

// The index of the interface a datagram came in on, from its IP_PKTINFO; 0 without one.
std::uint32_t arrivedBy(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            return static_cast<std::uint32_t>(info.ipi_ifindex);
        }
    }
    return 0;
}

}  // namespace

struct UdpSocket::ReceiveStorage {
    std::array<mmsghdr, kBatchSize> headers{};
    std::array<iovec, kBatchSize> vectors{};
    std::array<sockaddr_in, kBatchSize> senders{};
    struct Control {
        alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::array<Control, kBatchSize> controls{};
    // Left uninitialised: the kernel writes only what arrives, so the pages of a
    // slot that only ever holds small datagrams are never made resident.
    std::unique_ptr<char[]> bytes = std::make_unique_for_overwrite<char[]>(kBatchSize * kMaxDatagram);

    // recvmmsg writes the lengths back, so the headers are laid out afresh each call.
    void prepare() {
        for (unsigned i = 0; i < kBatchSize; ++i) {
            vectors[i] = {bytes.get() + i * kMaxDatagram, kMaxDatagram};
            headers[i] = {};
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
            headers[i].msg_hdr.msg_name = &senders[i];
            headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
            headers[i].msg_hdr.msg_control = controls[i].bytes;
            headers[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
        }
    }
};

UdpSocket::UdpSocket(SystemCalls& calls) : calls_(calls) {}

UdpSocket::~UdpSocket() = default;

void UdpSocket::open(std::int32_t protocol) {
    if (protocol != protocol::kProtocolUdp) {
        throw Failure(EPROTONOSUPPORT, "unsupported protocol " + std::to_string(protocol) + ": only UDP (" +
                                           std::to_string(protocol::kProtocolUdp) + ") is available");
    }
    if (socket_.valid()) {
        return;
    }
    UniqueFd created(calls_.socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), calls_);
    if (!created.valid()) {
        throw Failure::fromErrno(errno);
    }
    // Linux hands group traffic to every socket on the port once any socket on
    // the host joins the group; only datagrams sent to this socket are answers.
    const int off = 0;
    if (calls_.setsockopt(created.get(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
        throw Failure::fromErrno(errno);
    }
    // Each datagram says which interface it came in on.
    const int on = 1;
    if (calls_.setsockopt(created.get(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
        throw Failure::fromErrno(errno);
    }
    UniqueFd stop(calls_.eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), calls_);
    if (!stop.valid()) {
        throw Failure::fromErrno(errno);
    }
    socket_ = std::move(created);
    stopSignal_ = std::move(stop);
    storage_ = std::make_unique<ReceiveStorage>();
}

int UdpSocket::requireSocket() const {
    if (!socket_.valid()) {
        throw Failure(EBADF, "the endpoint has no socket yet: set its protocol to UDP first");
    }
    return socket_.get();
}

void UdpSocket::send(Destination::Address at, std::uint32_t byInterface, std::string_view payload) {
    const int fd = requireSocket();
    if (byInterface != 0) {
        const in_addr interface{byInterface};
        if (calls_.setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0) {
            throw Failure::fromErrno(errno);
        }
    }
    // The system's default is 1: a call only when the TTL changes from the one in force.
    if (at.groupTtl != groupTtl_) {
        const int ttl = at.groupTtl;
        if (calls_.setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0) {
            throw Failure::fromErrno(errno);
        }
        groupTtl_ = at.groupTtl;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = at.port;
    to.sin_addr.s_addr = at.address;
    bool waited = false;
    for (int attempt = 1;; ++attempt) {
        const ssize_t sent = calls_.sendto(fd, payload.data(), payload.size(), 0,
                                           reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0) {
            return;
        }
        const int error = errno;
        if (error == EINTR && attempt < kAttempts) {
            continue;
        }
        if ((error == EAGAIN || error == EWOULDBLOCK) && !waited) {
            // The socket is non-blocking for receiving; a full send buffer is
            // worth one bounded wait before it counts as a failure.
            pollfd writable{fd, POLLOUT, 0};
            static_cast<void>(calls_.poll(&writable, 1, 1000));
            waited = true;
            continue;
        }
        throw Failure::fromErrno(error);
    }
}

bool UdpSocket::receive(ReceiveBatch& batch) {
    int count = -1;
    for (int attempt = 0; count < 0 && attempt < kAttempts; ++attempt) {
        storage_->prepare();
        count = calls_.recvmmsg(socket_.get(), storage_->headers.data(), kBatchSize, MSG_DONTWAIT);
        if (count < 0) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                return false;
            }
            if (error != EINTR && !reportOfEarlierSend(error)) {
                throw Failure::fromErrno(error);
            }
        }
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(std::max(count, 0)); ++i) {
        auto& header = storage_->headers[i];
        const auto& from = storage_->senders[i];
        batch.push_back({from.sin_addr.s_addr, from.sin_port,
                         std::string(static_cast<const char*>(header.msg_hdr.msg_iov->iov_base), header.msg_len),
                         {}, arrivedBy(header.msg_hdr)});
    }
    return count > 0;
}

bool UdpSocket::waitForDatagrams(std::chrono::milliseconds timeout) {
    std::array<pollfd, 2> watched{{{socket_.get(), POLLIN, 0}, {stopSignal_.get(), POLLIN, 0}}};
    if (calls_.poll(watched.data(), watched.size(), static_cast<int>(timeout.count())) >= 0) {
        return (watched[1].revents & POLLIN) == 0;
    }
    if (errno != EINTR) {
        throw Failure::fromErrno(errno);
    }
    return true;  // as a time-out: the receive thread looks at its stop request before it waits again
}

void UdpSocket::interrupt() noexcept {
    const std::uint64_t one = 1;
    // Cannot fail while the counter is far from its maximum, but for a signal.
    for (int attempt = 0; attempt < kAttempts && calls_.write(stopSignal_.get(), &one, sizeof one) < 0 && errno == EINTR;
         ++attempt) {
    }
}

void giveMemoryBack() noexcept { malloc_trim(0); }

SystemDrops UdpSocket::drops() const {
    SystemDrops counts;
    if (!socket_.valid()) {
        return counts;
    }
    std::array<std::uint32_t, SK_MEMINFO_VARS> memory{};
    socklen_t length = sizeof memory;
    if (calls_.getsockopt(socket_.get(), SOL_SOCKET, SO_MEMINFO, memory.data(), &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(std::uint32_t)) {
        counts.dropped = memory[SK_MEMINFO_DROPS];
    }
    int buffer = 0;
    length = sizeof buffer;
    if (calls_.getsockopt(socket_.get(), SOL_SOCKET, SO_RCVBUF, &buffer, &length) == 0) {
        counts.bufferBytes = buffer;
    }
    return counts;
}

std::uint16_t UdpSocket::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (!socket_.valid() || calls_.getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace zorvik

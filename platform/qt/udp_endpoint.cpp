#include "udp_endpoint.hpp"

#include <malloc.h>
#include <netinet/in.h>

#include <array>
#include <cerrno>

#include <QSocketNotifier>

#include "failure.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

// Datagrams taken from the kernel per call, and the largest an IPv4 UDP
// datagram can be, rounded up.
constexpr unsigned kBatchSize = 64;
constexpr std::size_t kMaxDatagram = 65536;
// Errors such as ICMP reports are consumed one per call; stop after this many.
constexpr int kMaxErrorsPerDrain = 64;

}  // namespace

struct UdpEndpoint::ReceiveBatch {
    std::array<mmsghdr, kBatchSize> headers{};
    std::array<iovec, kBatchSize> vectors{};
    std::array<sockaddr_in, kBatchSize> senders{};
    // Left uninitialised: the kernel writes only what arrives, so the pages of a
    // slot that only ever holds small datagrams are never made resident.
    std::unique_ptr<char[]> storage = std::make_unique_for_overwrite<char[]>(kBatchSize * kMaxDatagram);

    // recvmmsg writes the lengths back, so the headers are laid out afresh each call.
    void prepare() {
        for (unsigned i = 0; i < kBatchSize; ++i) {
            vectors[i] = {storage.get() + i * kMaxDatagram, kMaxDatagram};
            headers[i] = {};
            headers[i].msg_hdr.msg_iov = &vectors[i];
            headers[i].msg_hdr.msg_iovlen = 1;
            headers[i].msg_hdr.msg_name = &senders[i];
            headers[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        }
    }
};

UdpEndpoint::UdpEndpoint(SystemCalls& calls) : calls_(calls) {
    deliveryTimer_.setSingleShot(true);
    deliveryTimer_.setInterval(0);
    QObject::connect(&deliveryTimer_, &QTimer::timeout, [this] { run([this] { deliverSlice(); }); });
}

UdpEndpoint::~UdpEndpoint() = default;

void UdpEndpoint::setProtocol(std::int32_t protocol) {
    if (protocol != protocol::kProtocolUdp) {
        throw Failure(EPROTONOSUPPORT, "unsupported protocol " + std::to_string(protocol) + ": only UDP (" +
                                           std::to_string(protocol::kProtocolUdp) + ") is available");
    }
    if (socket_.valid()) {
        return;
    }
    const int fd = calls_.socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw Failure::fromErrno(errno);
    }
    socket_ = UniqueSocket(calls_, fd);
    // Linux hands group traffic to every socket on the port once any socket on
    // the host joins the group; only datagrams sent to this socket are answers.
    const int off = 0;
    if (calls_.setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
        const int error = errno;
        socket_.reset();
        throw Failure::fromErrno(error);
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { run([this] { onReadable(); }); });
}

int UdpEndpoint::requireSocket() const {
    if (!socket_.valid()) {
        throw Failure(EBADF, "the endpoint has no socket yet: set its protocol to UDP first");
    }
    return socket_.get();
}

std::int32_t UdpEndpoint::SocketHandle() const { return requireSocket(); }

void UdpEndpoint::sendDatagram(Destination::Address at, std::uint32_t byInterface, std::string_view payload) {
    const int fd = requireSocket();
    if (byInterface != 0) {
        const in_addr interface{byInterface};
        if (calls_.setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface) != 0) {
            throw Failure::fromErrno(errno);
        }
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = at.port;
    to.sin_addr.s_addr = at.address;
    bool waited = false;
    for (;;) {
        const ssize_t sent = calls_.sendto(fd, payload.data(), payload.size(), 0,
                                           reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (sent >= 0) {
            return;
        }
        const int error = errno;
        if (error == EINTR) {
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

void UdpEndpoint::drainSystemQueue() {
    if (!socket_.valid()) {
        return;
    }
    if (!batch_) {
        batch_ = std::make_unique<ReceiveBatch>();
    }
    int errors = 0;
    while (!full()) {
        batch_->prepare();
        const int count = calls_.recvmmsg(socket_.get(), batch_->headers.data(), kBatchSize, MSG_DONTWAIT);
        if (count < 0) {
            // EAGAIN: the queue is empty. Anything else is an error the kernel
            // reports outside any operation, such as an ICMP unreachable for an
            // earlier send; nobody asked for it, so it is dropped.
            if (errno == EAGAIN || errno == EWOULDBLOCK || ++errors > kMaxErrorsPerDrain) {
                return;
            }
            continue;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
            const auto& header = batch_->headers[i];
            const auto& from = batch_->senders[i];
            push({from.sin_addr.s_addr, from.sin_port},
                 {static_cast<const char*>(header.msg_hdr.msg_iov->iov_base), header.msg_len});
        }
        if (count < static_cast<int>(kBatchSize)) {
            return;
        }
    }
}

void UdpEndpoint::watchReadable(bool on) {
    if (notifier_) {
        notifier_->setEnabled(on);
    }
}

void UdpEndpoint::releaseMemory() {
    batch_.reset();  // large datagrams made its pages resident
    malloc_trim(0);
}

std::uint16_t UdpEndpoint::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (!socket_.valid() || getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace zorvik

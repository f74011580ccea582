#include "udp_endpoint.hpp"

#include <arpa/inet.h>
#include <malloc.h>
#include <cerrno>

#include <algorithm>
#include <array>
#include <chrono>

#include <QSocketNotifier>

#include "failure.hpp"
#include "protocol.hpp"

namespace zorvik {
namespace {

// Datagrams taken from the kernel per call, and the largest an IPv4 UDP
// datagram can be, rounded up.
constexpr unsigned kBatchSize = 64;
constexpr std::size_t kMaxDatagram = 65536;

// How long one delivery slice may run before the event loop gets a turn.
constexpr auto kSliceLength = std::chrono::milliseconds(5);
// Deliveries between two drains of the kernel's queue within a slice.
constexpr int kDeliveriesPerDrain = 32;
// Errors such as ICMP reports are consumed one per call; stop after this many.
constexpr int kMaxErrorsPerDrain = 64;

// Past this many unread datagrams, or this much unread payload, the endpoint
// stops taking from the kernel, which then drops what does not fit: a flood
// costs bounded memory, and its backlog is listed within about a second. The
// count is above the largest discovery (100,000 answers at once).
constexpr std::size_t kMaxQueuedDatagrams = std::size_t{128} << 10;
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 20;
// Once the queue has held this much and is read empty, its memory goes back to
// the system instead of staying with the idle program.
constexpr std::size_t kReleaseAfterBytes = std::size_t{4} << 20;

Failure invalidArgument(const std::string& what) { return Failure(EINVAL, what); }

template <typename D>
std::size_t queuedCost(const D& datagram) {
    return sizeof(D) + datagram.payload.size();
}

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
    QObject::connect(&deliveryTimer_, &QTimer::timeout, [this] { run_([this] { deliverSlice(); }); });
}

UdpEndpoint::~UdpEndpoint() = default;

void UdpEndpoint::setProtocol(std::int32_t protocol) {
    if (protocol != protocol::kProtocolUdp) {
        throw invalidArgument("unsupported protocol " + std::to_string(protocol) + ": only UDP (" +
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
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { run_([this] { onReadable(); }); });
}

void UdpEndpoint::onReadable() {
    drainKernelQueue();
    if (!stopped_ && announced_ < arrived_.size()) {
        deliveryTimer_.start();
    }
}

int UdpEndpoint::requireSocket() const {
    if (!socket_.valid()) {
        throw Failure(EBADF, "the endpoint has no socket yet: set its protocol to UDP first");
    }
    return socket_.get();
}

std::int32_t UdpEndpoint::SocketHandle() const { return requireSocket(); }

void UdpEndpoint::setRemotePort(std::int32_t port) {
    if (port < 1 || port > 65535) {
        throw invalidArgument("invalid remote port " + std::to_string(port) + ": must be 1 to 65535");
    }
    remotePort_ = static_cast<std::uint16_t>(port);
}

void UdpEndpoint::setRemoteHost(std::string_view host) {
    // A literal dotted address only: the endpoint never looks names up.
    in_addr address{};
    const std::string text(host);
    // inet_pton would stop at an embedded zero byte and accept what precedes it.
    if (host.find('\0') != std::string_view::npos || inet_pton(AF_INET, text.c_str(), &address) != 1) {
        throw invalidArgument("invalid remote host \"" + text + "\": not a dotted IPv4 address");
    }
    remoteHost_ = address;
}

void UdpEndpoint::SendData(std::string_view payload) {
    requireSocket();
    if (!remoteHost_ || !remotePort_) {
        throw Failure::fromErrno(EDESTADDRREQ);
    }
    send(payload);
}

void UdpEndpoint::send(std::string_view payload) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(*remotePort_);
    to.sin_addr = *remoteHost_;
    bool waited = false;
    for (;;) {
        const ssize_t sent = calls_.sendto(socket_.get(), payload.data(), payload.size(), 0,
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
            pollfd writable{socket_.get(), POLLOUT, 0};
            static_cast<void>(calls_.poll(&writable, 1, 1000));
            waited = true;
            continue;
        }
        throw Failure::fromErrno(error);
    }
}

void UdpEndpoint::GetData(std::string& data, DataType, std::int32_t maxBytes) {
    if (maxBytes < 0) {
        throw invalidArgument("invalid byte count " + std::to_string(maxBytes));
    }
    if (arrived_.empty()) {
        throw Failure(EAGAIN, "no datagram has arrived to be read");
    }
    Datagram& oldest = arrived_.front();
    queuedBytes_ -= queuedCost(oldest);
    oldest.payload.resize(std::min(oldest.payload.size(), static_cast<std::size_t>(maxBytes)));
    data = std::move(oldest.payload);
    arrived_.pop_front();
    if (announced_ > 0) {
        --announced_;
    }
    if (arrived_.empty() && heldBytes_ >= kReleaseAfterBytes) {
        heldBytes_ = 0;
        batch_.reset();  // large datagrams made its pages resident
        malloc_trim(0);
    }
}

std::string UdpEndpoint::RemoteHostIP() const {
    if (!currentSender_) {
        throw Failure(EDESTADDRREQ, "no datagram has arrived yet, so there is no sender");
    }
    std::array<char, INET_ADDRSTRLEN> text{};
    inet_ntop(AF_INET, &currentSender_->sin_addr, text.data(), text.size());
    return text.data();
}

bool UdpEndpoint::full() const {
    return arrived_.size() >= kMaxQueuedDatagrams || queuedBytes_ >= kMaxQueuedBytes;
}

void UdpEndpoint::drainKernelQueue() {
    if (!socket_.valid() || stopped_ || intakeClosed_) {
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
        for (int i = 0; i < count; ++i) {
            const auto& header = batch_->headers[static_cast<std::size_t>(i)];
            const char* bytes = static_cast<const char*>(header.msg_hdr.msg_iov->iov_base);
            arrived_.push_back({batch_->senders[static_cast<std::size_t>(i)],
                                std::string(bytes, header.msg_len)});
            queuedBytes_ += queuedCost(arrived_.back());
        }
        heldBytes_ = std::max(heldBytes_, queuedBytes_);
        if (count < static_cast<int>(kBatchSize)) {
            return;
        }
    }
    // Full: stop watching until deliveries have made room, rather than spin.
    notifier_->setEnabled(false);
}

void UdpEndpoint::announceNext() {
    const Datagram& next = arrived_[announced_];
    currentSender_ = next.from;
    ++announced_;
    if (arrival_) {
        arrival_(static_cast<std::int32_t>(next.payload.size()));
    }
}

void UdpEndpoint::deliverSlice() {
    if (delivering_ || stopped_) {
        return;
    }
    delivering_ = true;
    const auto deadline = std::chrono::steady_clock::now() + kSliceLength;
    int sinceDrain = 0;
    bool delivered = false;
    while (!stopped_ && announced_ < arrived_.size()) {
        announceNext();
        delivered = true;
        if (++sinceDrain == kDeliveriesPerDrain) {
            drainKernelQueue();
            sinceDrain = 0;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
    }
    delivering_ = false;
    if (delivered && sliceEnd_ && !stopped_) {
        sliceEnd_();
    }
    if (stopped_) {
        return;
    }
    if (!intakeClosed_ && !full()) {
        notifier_->setEnabled(true);
    }
    drainKernelQueue();
    if (announced_ < arrived_.size()) {
        deliveryTimer_.start();
    }
}

void UdpEndpoint::deliverPending() {
    run_([this] {
        drainKernelQueue();
        // Under a steady stream, taking in more would keep this from returning.
        intakeClosed_ = true;
        if (notifier_) {
            notifier_->setEnabled(false);
        }
        while (!stopped_ && !delivering_ && announced_ < arrived_.size()) {
            deliverSlice();
        }
    });
}

void UdpEndpoint::stop() {
    stopped_ = true;
    deliveryTimer_.stop();
    if (notifier_) {
        notifier_->setEnabled(false);
    }
}

std::uint16_t UdpEndpoint::localPort() const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (!socket_.valid() ||
        getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return ntohs(local.sin_port);
}

}  // namespace zorvik

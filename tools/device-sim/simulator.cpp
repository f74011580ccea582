#include "simulator.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "errors.hpp"
#include "ipv4.hpp"
#include "protocol.hpp"

namespace zorvik::devicesim {
namespace {

// Bounds the work done per wake-up, so a flood of probes cannot starve answering.
constexpr int kMaxProbesPerWake = 256;
// How many datagrams go out between checks for a stop signal during long bursts.
constexpr std::uint64_t kSendsPerStopCheck = 1024;

UniqueFd udpSocket() {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) throwErrno("socket");
    return fd;
}

void bindTo(const UniqueFd& fd, std::uint32_t address, std::uint16_t port) {
    const sockaddr_in local = socketAddress(address, port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        throwErrno("bind " + formatIpv4(address) + ":" + std::to_string(port));
    }
}

bool isProbe(const char* data, ssize_t length, const sockaddr_in& from) {
    return from.sin_family == AF_INET && length == static_cast<ssize_t>(protocol::kProbe.size()) &&
           std::string_view(data, protocol::kProbe.size()) == protocol::kProbe;
}

}  // namespace

Simulator::Simulator(const Options& options, const Interface& interface, const StopSignals& stop)
    : options_(options), stop_(stop), listener_(udpSocket()) {
    // Several simulators share the port; each then gets its own copy of a probe.
    const int on = 1;
    if (::setsockopt(listener_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        throwErrno("SO_REUSEADDR");
    }
    bindTo(listener_, INADDR_ANY, static_cast<std::uint16_t>(protocol::kPort));

    ip_mreqn membership{};
    membership.imr_multiaddr.s_addr = htonl(parseIpv4(std::string(protocol::kGroup)).value());
    membership.imr_address.s_addr = htonl(INADDR_ANY);
    membership.imr_ifindex = static_cast<int>(interface.index);
    if (::setsockopt(listener_.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) !=
        0) {
        throwErrno("join " + std::string(protocol::kGroup) + " on " + interface.name);
    }
    // Only probes on its own interface, as a device on that network would see them.
    const int off = 0;
    if (::setsockopt(listener_.get(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
        throwErrno("IP_MULTICAST_ALL");
    }

    hosts_.reserve(options.hosts);
    for (std::uint32_t i = 0; i < options.hosts; ++i) {
        hosts_.push_back(udpSocket());
        bindTo(hosts_.back(), options.firstAddress + i, 0);
    }
}

void Simulator::run() {
    while (!finished()) {
        if (!answerDueProbes()) return;
        if (finished()) return;
        std::array<pollfd, 2> waitFor{{{listener_.get(), POLLIN, 0}, {stop_.fd(), POLLIN, 0}}};
        if (::poll(waitFor.data(), waitFor.size(), millisecondsToNextDue()) < 0) {
            if (errno == EINTR) continue;
            throwErrno("poll");
        }
        if (waitFor[1].revents != 0) return;
        if (waitFor[0].revents != 0) receiveProbes();
    }
}

void Simulator::receiveProbes() {
    for (int i = 0; i < kMaxProbesPerWake; ++i) {
        // One byte more than a probe, so a longer datagram cannot pass as one.
        std::array<char, protocol::kProbe.size() + 1> data{};
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(listener_.get(), data.data(), data.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (errno == EINTR) continue;
            throwErrno("receive probe");
        }
        const bool wanted = !options_.probes || accepted_ < *options_.probes;
        if (wanted && isProbe(data.data(), length, from)) {
            pending_.push_back({Clock::now() + std::chrono::milliseconds(options_.delayMs), from});
            ++accepted_;
        }
    }
}

bool Simulator::answerDueProbes() {
    while (!pending_.empty() && pending_.front().due <= Clock::now()) {
        const sockaddr_in prober = pending_.front().prober;
        pending_.pop_front();
        if (!answer(prober)) return false;
        ++answered_;
    }
    return true;
}

bool Simulator::answer(const sockaddr_in& prober) {
    const std::uint64_t total = options_.burst ? *options_.burst : std::uint64_t{options_.answers} * hosts_.size();
    for (std::uint64_t k = 0; k < total; ++k) {
        const Sent sent = send(static_cast<std::size_t>(k % hosts_.size()), prober);
        if (sent == Sent::stopped) return false;
        if (sent == Sent::proberUnreachable) return true;  // skip it, and serve the next
    }
    return true;
}

Simulator::Sent Simulator::send(std::size_t host, const sockaddr_in& prober) {
    const int fd = hosts_[host].get();
    for (;;) {
        if (::sendto(fd, options_.payload.data(), options_.payload.size(), 0,
                     reinterpret_cast<const sockaddr*>(&prober), sizeof prober) >= 0) {
            break;
        }
        const int error = errno;
        // A prober that has gone away is no reason to stop answering others.
        if (error == ECONNREFUSED) break;
        if (error == EINTR) continue;
        if (error != EAGAIN && error != EWOULDBLOCK && error != ENOBUFS) {
            // A prober these hosts cannot reach (off loopback, no route) ends nothing else.
            std::cerr << "zorvik-device-sim: not answering " << formatIpv4(ntohl(prober.sin_addr.s_addr))
                      << " from " << formatIpv4(options_.firstAddress + static_cast<std::uint32_t>(host))
                      << ": " << std::strerror(error) << "\n";
            return Sent::proberUnreachable;
        }
        // Out of buffer space: wait for room rather than drop the answer. ENOBUFS
        // gives nothing to wait on, so then only a stop is awaited, for a millisecond.
        const bool noBuffers = error == ENOBUFS;
        std::array<pollfd, 2> waitFor{{{stop_.fd(), POLLIN, 0}, {fd, POLLOUT, 0}}};
        if (::poll(waitFor.data(), noBuffers ? 1 : 2, noBuffers ? 1 : -1) < 0 && errno != EINTR) {
            throwErrno("poll for send room");
        }
        if (waitFor[0].revents != 0) return Sent::stopped;
    }
    return ++sent_ % kSendsPerStopCheck != 0 || !stop_.pending() ? Sent::ok : Sent::stopped;
}

int Simulator::millisecondsToNextDue() const {
    if (pending_.empty()) return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(pending_.front().due - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0));
}

}  // namespace zorvik::devicesim

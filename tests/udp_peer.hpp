#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zorvik::testing {

// True inside scripts/lan's namespace, where lo is the only interface: then
// nothing a test sends, to the group or elsewhere, can leave the machine.
inline bool insideLan() {
    struct if_nameindex* all = ::if_nameindex();
    const bool onlyLo = all && all[0].if_index && all[0].if_name == std::string("lo") && !all[1].if_index;
    if_freenameindex(all);
    return onlyLo;
}

inline sockaddr_in at(const char* address, std::uint16_t port) {
    sockaddr_in a{AF_INET, htons(port), {}, {}};
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// A UDP socket standing in for a device or a prober on a loopback address, or,
// bound to a group address, a member of the group on lo. Only inside scripts/lan.
class UdpPeer {
public:
    explicit UdpPeer(const char* address = "127.0.0.1", std::uint16_t port = 0) {
        if (!insideLan()) throw std::runtime_error("this test sends probes: run it only under scripts/lan");
        const int on = 1, big = 8 << 20;  // room for the bursts; root may exceed the system's cap
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        const sockaddr_in local = at(address, port);
        const ip_mreqn join{local.sin_addr, {}, static_cast<int>(::if_nametoindex("lo"))};
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
            (ntohl(local.sin_addr.s_addr) >> 28 == 0xE &&  // in 224.0.0.0/4
             ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0))
            throw std::runtime_error(std::string("cannot bind ") + address);
    }
    ~UdpPeer() { ::close(fd); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length), ntohs(local.sin_port);
    }
    void sendTo(std::uint16_t port, std::string_view payload, const char* address = "127.0.0.1") const {
        const sockaddr_in to = at(address, port);
        if (::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            throw std::runtime_error("peer: send failed");
    }

    // The next datagram, or nothing within the timeout.
    struct Datagram {
        std::string payload, from;
        std::uint16_t fromPort;
    };
    std::optional<Datagram> receive(int timeoutMs = 2000) const {
        pollfd readable{fd, POLLIN, 0};
        std::string buffer(65536, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::poll(&readable, 1, timeoutMs) != 1 ? -1 :
            ::recvfrom(fd, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(got));
        return Datagram{buffer, ::inet_ntoa(from.sin_addr), ntohs(from.sin_port)};
    }

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
};

// Threads, each with a socket of its own on 127.0.0.2, .3, ..., send empty
// datagrams to `port` as fast as they can until it goes (20 s at the most).
struct Stream {
    explicit Stream(std::uint16_t port, int threads = 1) {
        for (int i = 0; i < threads; ++i)
            senders.emplace_back([=, this](std::stop_token stop) {
                const UdpPeer sender(("127.0.0." + std::to_string(2 + i)).c_str());
                for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                     !stop.stop_requested() && std::chrono::steady_clock::now() < end; ++sent)
                    sender.sendTo(port, "");
            });
    }
    std::atomic<long> sent = 0;
    std::vector<std::jthread> senders;
};

}  // namespace zorvik::testing

#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// A plain UDP socket on a loopback address, standing in for a device: it
// receives what the endpoint sends and sends datagrams to the endpoint.
namespace zorvik::testing {

class UdpPeer {
public:
    explicit UdpPeer(const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local = endpointAt(address, 0);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            throw std::runtime_error("peer: cannot bind " + std::string(address));
        }
        const int big = 8 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    std::uint16_t port() const {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }

    void sendTo(std::uint16_t port, const std::string& payload, const char* address = "127.0.0.1") const {
        sockaddr_in to = endpointAt(address, port);
        if (::sendto(fd_, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
            static_cast<ssize_t>(payload.size())) {
            throw std::runtime_error("peer: send failed");
        }
    }

    struct Received {
        std::string payload;
        std::uint16_t fromPort;
    };
    // The next datagram, or nothing within the timeout.
    std::optional<Received> receive(int timeoutMs = 2000) const {
        pollfd readable{fd_, POLLIN, 0};
        if (::poll(&readable, 1, timeoutMs) != 1) {
            return std::nullopt;
        }
        std::string buffer(65536, '\0');
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            return std::nullopt;
        }
        buffer.resize(static_cast<std::size_t>(got));
        return Received{buffer, ntohs(from.sin_port)};
    }

private:
    static sockaddr_in endpointAt(const char* address, std::uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address, &a.sin_addr);
        return a;
    }

    int fd_ = -1;
};

}  // namespace zorvik::testing

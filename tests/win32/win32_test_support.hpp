#pragma once

#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <optional>
#include <string>

namespace zorvik::testing {

// Runs the message loop until the condition holds or the deadline passes,
// giving `dialog` its keyboard handling as the program's own loop does.
inline bool pumpUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds deadline = std::chrono::seconds(5), HWND dialog = nullptr) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog != nullptr && IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!condition()) MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return true;
}

inline void pumpFor(std::chrono::milliseconds period) { pumpUntil([] { return false; }, period); }

// What the kernel under Wine dropped on the UDP socket at `port` for want of
// buffer room: the drops column of the namespace's /proc/net/udp.
inline unsigned long kernelDrops(std::uint16_t port) {
    std::ifstream table("Z:\\proc\\net\\udp");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, field;
        fields >> slot >> local;
        const auto colon = local.find(':');  // ADDRESS:PORT in hex; the heading has none
        if (colon == std::string::npos || std::stoul(local.substr(colon + 1), nullptr, 16) != port) continue;
        while (fields >> field) {}
        return std::stoul(field);
    }
    return 0;
}

// A device stand-in on loopback: a UDP socket bound to `address` and `port`, or,
// given a group address, a member of the group on loopback at that port. Wine
// binds a UDP socket to the address's interface rather than the address, so
// what it sends comes from 127.0.0.1 whichever loopback address it names.
class WinsockPeer {
public:
    explicit WinsockPeer(const char* address = "127.0.0.2", std::uint16_t port = 0) {
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(port);
        ip_mreq join{};
        inet_pton(AF_INET, address, &join.imr_multiaddr);
        const bool group = ntohl(join.imr_multiaddr.s_addr) >> 28 == 0xE;
        at.sin_addr = group ? in_addr{} : join.imr_multiaddr;
        bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at);
        inet_pton(AF_INET, "127.0.0.1", &join.imr_interface);
        if (group) setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&join), sizeof join);
        int length = sizeof at;
        getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        const int buffer = 8 << 20;
        setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    }
    ~WinsockPeer() { closesocket(socket_); }
    WinsockPeer(const WinsockPeer&) = delete;
    WinsockPeer& operator=(const WinsockPeer&) = delete;

    std::uint16_t port() const { return port_; }
    SOCKET handle() const { return socket_; }

    void sendTo(std::uint16_t port, const std::string& payload, const char* address = "127.0.0.1") const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        sendto(socket_, payload.data(), static_cast<int>(payload.size()), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    }

    struct Datagram {
        std::string payload;
        std::uint16_t fromPort;
    };
    // The next datagram, or none within the deadline.
    std::optional<Datagram> receive(int timeoutMs = 2000) const {
        WSAPOLLFD readable{socket_, POLLRDNORM, 0};
        if (WSAPoll(&readable, 1, timeoutMs) <= 0) return std::nullopt;
        std::string buffer(65536, '\0');
        sockaddr_in from{};
        int length = sizeof from;
        const int got = recvfrom(socket_, buffer.data(), static_cast<int>(buffer.size()), 0,
                                 reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(got));
        return Datagram{buffer, ntohs(from.sin_port)};
    }

private:
    SOCKET socket_;
    std::uint16_t port_ = 0;
};

}  // namespace zorvik::testing

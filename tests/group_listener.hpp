#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "protocol.hpp"

// Counts what is sent to the discovery group, as a device on loopback would see
// it. Only for tests inside a private network namespace.
namespace zorvik::testing {

class GroupListener {
public:
    GroupListener() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<std::uint16_t>(protocol::kPort));
        ip_mreqn join{};
        ::inet_pton(AF_INET, std::string(protocol::kGroup).c_str(), &join.imr_multiaddr);
        join.imr_ifindex = static_cast<int>(::if_nametoindex("lo"));
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0) {
            throw std::runtime_error("cannot listen to the group: is this a private namespace with lo up?");
        }
    }
    ~GroupListener() { ::close(fd_); }
    GroupListener(const GroupListener&) = delete;
    GroupListener& operator=(const GroupListener&) = delete;

    // Takes every probe now waiting, within a short bounded wait for the first.
    int probesReceived(int timeoutMs = 200) {
        int count = 0;
        pollfd readable{fd_, POLLIN, 0};
        while (::poll(&readable, 1, count == 0 ? timeoutMs : 0) == 1) {
            char buffer[64];
            if (::recv(fd_, buffer, sizeof buffer, 0) < 0) {
                break;
            }
            ++count;
        }
        return count;
    }

private:
    int fd_ = -1;
};

}  // namespace zorvik::testing

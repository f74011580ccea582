#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "system_tables.hpp"
#include "unique_fd.hpp"

namespace zorvik {

namespace {

constexpr std::size_t aligned(std::size_t length) { return (length + 3) & ~std::size_t{3}; }

// One entry of the dump, if it holds an IPv4 address with a 6-byte link address.
// The kernel gives a link address only while the entry's is valid, not while
// it is incomplete or failed.
bool parseNeighbour(const unsigned char* message, std::size_t length, Neighbour& found) {
    ndmsg header;
    if (length < sizeof header) {
        return false;
    }
    std::memcpy(&header, message, sizeof header);
    if (header.ndm_family != AF_INET) {
        return false;
    }
    bool address = false, mac = false;
    for (std::size_t at = aligned(sizeof header); at + sizeof(rtattr) <= length;) {
        rtattr attribute;
        std::memcpy(&attribute, message + at, sizeof attribute);
        if (attribute.rta_len < sizeof attribute || at + attribute.rta_len > length) {
            break;
        }
        const unsigned char* value = message + at + sizeof attribute;
        const std::size_t size = attribute.rta_len - sizeof attribute;
        if (attribute.rta_type == NDA_DST && size == sizeof found.address) {
            std::memcpy(&found.address, value, size);
            address = true;
        } else if (attribute.rta_type == NDA_LLADDR && size == found.mac.size()) {
            std::memcpy(found.mac.data(), value, size);
            mac = true;
        }
        at += aligned(attribute.rta_len);
    }
    return address && mac;
}

}  // namespace

// The kernel's table through rtnetlink: one dump request, answered in batches
// of messages up to NLMSG_DONE.
std::vector<Neighbour> readNeighbourTable() { return readNeighbourTable(realSystemCalls()); }

std::vector<Neighbour> readNeighbourTable(SystemCalls& calls) {
    const UniqueFd socket(calls.socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE), calls);
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header = {sizeof request, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, 1, 0};
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::vector<Neighbour> all;
    if (!socket.valid() || calls.sendto(socket.get(), &request, sizeof request, 0,
                                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        return all;
    }
    // The kernel sizes its batches by the reader's buffer, up to 32 KiB.
    std::vector<unsigned char> buffer(32 * 1024);
    for (bool done = false; !done;) {
        iovec part{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = calls.recvmsg(socket.get(), &message, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        done = received <= 0 || (message.msg_flags & MSG_TRUNC) != 0;
        const auto length = done ? 0 : static_cast<std::size_t>(received);
        for (std::size_t at = 0; !done && at + sizeof(nlmsghdr) <= length;) {
            nlmsghdr header;
            std::memcpy(&header, buffer.data() + at, sizeof header);
            if (header.nlmsg_len < sizeof header || at + header.nlmsg_len > length ||
                header.nlmsg_type == NLMSG_DONE || header.nlmsg_type == NLMSG_ERROR) {
                done = true;
            } else if (Neighbour n; header.nlmsg_type == RTM_NEWNEIGH &&
                       parseNeighbour(buffer.data() + at + sizeof header, header.nlmsg_len - sizeof header, n)) {
                all.push_back(n);
            }
            at += aligned(header.nlmsg_len);
        }
    }
    return all;
}

}  // namespace zorvik

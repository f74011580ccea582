#include "interface_guard.hpp"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "errors.hpp"
#include "unique_fd.hpp"

namespace zorvik::devicesim {
namespace {

bool isLoopback(const std::string& name) {
    const UniqueFd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (probe.get() < 0) throwErrno("socket for interface flags");
    ifreq request{};
    std::memcpy(request.ifr_name, name.data(), name.size());  // size checked by the caller
    if (::ioctl(probe.get(), SIOCGIFFLAGS, &request) != 0) throwErrno("flags of interface " + name);
    return (request.ifr_flags & IFF_LOOPBACK) != 0;
}

constexpr std::size_t align4(std::size_t length) { return (length + 3) & ~std::size_t{3}; }

// Netlink attributes in [data, data + size): calls visit(type, payload) for each.
template <typename Visit>
void forEachAttribute(const char* data, std::size_t size, Visit&& visit) {
    while (size >= sizeof(rtattr)) {
        rtattr header{};
        std::memcpy(&header, data, sizeof header);
        if (header.rta_len < sizeof header || header.rta_len > size) return;
        visit(header.rta_type & NLA_TYPE_MASK,
              std::string_view(data + sizeof header, header.rta_len - sizeof header));
        const std::size_t step = std::min(align4(header.rta_len), size);
        data += step;
        size -= step;
    }
}

// Whether one link, as RTM_NEWLINK describes it, keeps its traffic in this namespace.
bool staysInside(const ifinfomsg& link, const char* attributes, std::size_t size) {
    static constexpr std::array<std::string_view, 14> kInside = {
        "dummy", "veth",  "bridge",    "ipip", "sit",       "gre",     "gretap",
        "erspan", "ip6tnl", "ip6gre", "ip6gretap", "ip6erspan", "vti", "ip6_vti"};
    bool otherNamespace = false;
    std::string_view kind;
    forEachAttribute(attributes, size, [&](unsigned type, std::string_view payload) {
        if (type == IFLA_LINK_NETNSID) otherNamespace = true;
        if (type != IFLA_LINKINFO) return;
        forEachAttribute(payload.data(), payload.size(), [&](unsigned infoType, std::string_view info) {
            if (infoType == IFLA_INFO_KIND) kind = info.substr(0, info.find('\0'));
        });
    });
    const bool knownKind = std::find(kInside.begin(), kInside.end(), kind) != kInside.end();
    return !otherNamespace && ((link.ifi_flags & IFF_LOOPBACK) != 0 || knownKind);
}

// A namespace is private when no interface in it can carry a packet elsewhere:
// each is loopback, or a dummy, bridge, veth or tunnel whose far end is in this
// same namespace (else netlink names the far end's namespace). Comparing with
// PID 1's namespace proves nothing: a PID namespace shows a PID 1 of its own.
// Anything unreadable or unknown counts as not private.
bool inPrivateNetworkNamespace() {
    const UniqueFd netlink(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (netlink.get() < 0) return false;
    struct {
        nlmsghdr header;
        ifinfomsg link;
    } request{};
    request.header = {sizeof request, RTM_GETLINK, NLM_F_REQUEST | NLM_F_DUMP, 1, 0};
    request.link.ifi_family = 0;  // links of every address family
    if (::send(netlink.get(), &request, sizeof request, 0) != static_cast<ssize_t>(sizeof request)) return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::recv(netlink.get(), buffer.data(), buffer.size(), 0);
        if (got <= 0) return false;
        auto size = static_cast<std::size_t>(got);
        for (const char* at = buffer.data(); size >= sizeof(nlmsghdr);) {
            nlmsghdr header{};
            std::memcpy(&header, at, sizeof header);
            if (header.nlmsg_len < sizeof header || header.nlmsg_len > size) return false;
            if (header.nlmsg_type == NLMSG_DONE) return true;
            if (header.nlmsg_type == NLMSG_ERROR) return false;
            const std::size_t linkAt = align4(sizeof header);
            if (header.nlmsg_type == RTM_NEWLINK && header.nlmsg_len >= linkAt + sizeof(ifinfomsg)) {
                ifinfomsg link{};
                std::memcpy(&link, at + linkAt, sizeof link);
                const std::size_t attributesAt = linkAt + align4(sizeof link);
                const std::size_t attributesSize = header.nlmsg_len - std::min<std::size_t>(attributesAt, header.nlmsg_len);
                if (!staysInside(link, at + attributesAt, attributesSize)) return false;
            }
            const std::size_t step = std::min(align4(header.nlmsg_len), size);
            at += step;
            size -= step;
        }
    }
}

bool isLoopbackAddress(std::uint32_t address) { return address >> 24 == 127; }

}  // namespace

Interface findInterface(const std::string& name) {
    const unsigned index = name.size() < IFNAMSIZ ? ::if_nametoindex(name.c_str()) : 0;
    if (index == 0) throw UsageError("no network interface named '" + name + "'");
    return {name, index, isLoopback(name)};
}

void ensureSafeToServe(const Interface& interface, std::uint32_t firstAddress, std::uint32_t hosts) {
    const bool loopbackOnly =
        interface.loopback && isLoopbackAddress(firstAddress) && isLoopbackAddress(firstAddress + hosts - 1);
    if (loopbackOnly || inPrivateNetworkNamespace()) return;
    throw Refusal("refusing to serve on " + interface.name +
                  " or from addresses outside 127.0.0.0/8: this network namespace is not known to be "
                  "private (it has an interface other than loopback, dummy, bridge, veth or tunnel, or "
                  "one whose far end is in another namespace), so answers could reach a real network; "
                  "use scripts/lan");
}

}  // namespace zorvik::devicesim

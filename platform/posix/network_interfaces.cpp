#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <memory>

#include "failure.hpp"
#include "system_tables.hpp"

namespace zorvik {

std::vector<NetworkInterface> listNetworkInterfaces() { return listNetworkInterfaces(realSystemCalls()); }

std::string interfaceNameOf(std::uint32_t index) {
    char name[IF_NAMESIZE] = {};
    return index != 0 && ::if_indextoname(index, name) != nullptr ? name : "";
}

std::vector<NetworkInterface> listNetworkInterfaces(SystemCalls& calls) {
    ifaddrs* first = nullptr;
    if (calls.getifaddrs(&first) != 0) {
        throw Failure::fromErrno(errno);
    }
    const auto release = [&calls](ifaddrs* list) { calls.freeifaddrs(list); };
    const std::unique_ptr<ifaddrs, decltype(release)> owner(first, release);
    std::vector<NetworkInterface> all;
    for (const ifaddrs* entry = first; entry != nullptr; entry = entry->ifa_next) {
        NetworkInterface i{entry->ifa_name, 0, (entry->ifa_flags & IFF_UP) != 0,
                           (entry->ifa_flags & IFF_MULTICAST) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0};
        const sockaddr* address = entry->ifa_addr;
        if (address != nullptr && address->sa_family == AF_INET) {
            i.address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
            all.push_back(i);
        } else if (address != nullptr && address->sa_family == AF_PACKET) {
            all.push_back(i);  // every interface has one: lists those without IPv4 too
        }
    }
    return all;
}

}  // namespace zorvik

#include "interface_guard.hpp"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstring>

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

// True only when this process's network namespace is known to differ from the
// one PID 1 uses; anything unreadable counts as "not known".
bool inPrivateNetworkNamespace() {
    struct stat own {};
    struct stat init {};
    if (::stat("/proc/self/ns/net", &own) != 0 || ::stat("/proc/1/ns/net", &init) != 0) return false;
    return own.st_dev != init.st_dev || own.st_ino != init.st_ino;
}

}  // namespace

Interface findInterface(const std::string& name) {
    const unsigned index = name.size() < IFNAMSIZ ? ::if_nametoindex(name.c_str()) : 0;
    if (index == 0) throw UsageError("no network interface named '" + name + "'");
    return {name, index, isLoopback(name)};
}

void ensureSafeToJoin(const Interface& interface) {
    if (interface.loopback || inPrivateNetworkNamespace()) return;
    throw Refusal("refusing to join the group on " + interface.name +
                  ": it is not a loopback interface, and this process is not known to run in a "
                  "private network namespace (/proc/self/ns/net must differ from a readable "
                  "/proc/1/ns/net), so answers could reach a real network; use scripts/lan");
}

}  // namespace zorvik::devicesim

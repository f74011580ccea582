#include <netdb.h>
#include <netinet/in.h>

#include "neighbours.hpp"

namespace zorvik {

std::string hostNameOf(std::uint32_t address) {
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = address;
    char name[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&from), sizeof from, name, sizeof name, nullptr, 0,
                      NI_NAMEREQD) != 0) {
        return {};
    }
    return name;
}

}  // namespace zorvik

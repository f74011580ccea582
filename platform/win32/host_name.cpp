#include <winsock2.h>
#include <ws2tcpip.h>

#include "neighbours.hpp"
#include "wide_text.hpp"

namespace zorvik {

std::string hostNameOf(std::uint32_t address) {
    // The lookups may outlive the endpoint and its own WSAStartup; the count nests.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return {};
    }
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = address;
    wchar_t name[NI_MAXHOST];
    const int result = GetNameInfoW(reinterpret_cast<const sockaddr*>(&from), sizeof from, name, NI_MAXHOST,
                                    nullptr, 0, NI_NAMEREQD);
    WSACleanup();
    return result == 0 ? win32::narrow(name) : std::string();
}

}  // namespace zorvik

#include "ipv4.hpp"

#include <arpa/inet.h>

namespace zorvik::devicesim {

std::optional<std::uint32_t> parseIpv4(const std::string& text) {
    in_addr parsed{};
    // inet_pton accepts only the full dotted-quad form, unlike inet_aton.
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return std::nullopt;
    return ntohl(parsed.s_addr);
}

std::string formatIpv4(std::uint32_t address) {
    const in_addr raw{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    // Cannot fail: the family is valid and the buffer is the maximum size.
    static_cast<void>(inet_ntop(AF_INET, &raw, text, sizeof text));
    return text;
}

sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

}  // namespace zorvik::devicesim

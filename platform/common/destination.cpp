#include "destination.hpp"

#include <cerrno>
#include <cstring>

#include "failure.hpp"

namespace zorvik {

void Destination::setPort(std::int32_t port) {
    if (port < 1 || port > 65535) {
        throw Failure(EINVAL, "invalid remote port " + std::to_string(port) + ": must be 1 to 65535");
    }
    port_ = swapPortOrder(static_cast<std::uint16_t>(port));
}

std::uint16_t swapPortOrder(std::uint16_t port) {
    const unsigned char bytes[2] = {static_cast<unsigned char>(port >> 8), static_cast<unsigned char>(port)};
    std::uint16_t swapped = 0;
    std::memcpy(&swapped, bytes, sizeof swapped);
    return swapped;
}

void Destination::setHost(std::string_view host) {
    const auto address = parseDottedAddress(host);
    if (!address) {
        throw Failure(EINVAL, "invalid remote host \"" + std::string(host) + "\": not a dotted IPv4 address");
    }
    host_ = address;
}

Destination::Address Destination::require() const {
    if (!host_ || !port_) {
        throw Failure(EDESTADDRREQ, std::strerror(EDESTADDRREQ));
    }
    return {*host_, *port_, groupTtl_};
}

void Destination::setGroupTtl(std::int32_t ttl) {
    if (ttl < 1 || ttl > 255) {
        throw Failure(EINVAL, "a multicast TTL is 1 to 255");
    }
    groupTtl_ = static_cast<std::uint8_t>(ttl);
}

std::optional<std::uint32_t> parseDottedAddress(std::string_view text) {
    unsigned char bytes[4] = {};
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.front() == '0')) {
            return std::nullopt;
        }
        bytes[part] = static_cast<unsigned char>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty()) {
        return std::nullopt;
    }
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::string dottedAddress(std::uint32_t networkOrder) {
    unsigned char bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' + std::to_string(bytes[2]) + '.' +
           std::to_string(bytes[3]);
}

}  // namespace zorvik

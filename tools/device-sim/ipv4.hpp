#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace zorvik::devicesim {

// IPv4 addresses are kept as host-order numbers, so the next host is address + 1.
std::optional<std::uint32_t> parseIpv4(const std::string& text);
std::string formatIpv4(std::uint32_t address);
sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port);

}  // namespace zorvik::devicesim

#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik {

// One IPv4 neighbour with the Ethernet address the system has learnt for it.
struct Neighbour {
    std::uint32_t address = 0;  // network byte order
    std::array<std::uint8_t, 6> mac{};
};

// The IPv4 neighbours in the system's table that have a MAC address, without
// sending anything; each platform's adapters define it. Empty when the table
// cannot be read: the details it serves are a courtesy, not worth a failure.
std::vector<Neighbour> readNeighbourTable();

// The host name the system's resolver gives for `address` (network byte
// order), or empty when it has none. Blocks as long as the resolver takes.
std::string hostNameOf(std::uint32_t address);

}  // namespace zorvik

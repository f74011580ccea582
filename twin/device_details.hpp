#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "installed_makers.hpp"

namespace zorvik {

// What the system knows of a device; each field empty where it knows nothing.
struct DeviceDetails {
    std::string mac;    // "00:22:72:00:00:01"
    std::string maker;  // from the IEEE registries, or kLocallyAdministered
    std::string name;   // by reverse lookup
};

// The maker of a MAC address that its owner set rather than the IEEE assigned.
inline constexpr std::string_view kLocallyAdministered = "(locally administered)";

// What the system knows of each address (IPv4, network byte order), in the same
// order: the MAC from its neighbour table, without sending anything to learn
// one; the maker of that MAC; and the host name by reverse lookup. Host names
// are looked up for at most `nameBudget` in all, and the call returns within it.
// `note` is told of maker files that could not be used (installedMakers);
// `makers`, if given, names the makers instead of the installed data.
std::vector<DeviceDetails> lookUpDetails(const std::vector<std::uint32_t>& addresses,
                                         std::chrono::milliseconds nameBudget, const MakerNote& note,
                                         const MakerTable* makers = nullptr);

}  // namespace zorvik

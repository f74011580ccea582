#pragma once

#include <cstdint>
#include <string>

namespace zorvik::devicesim {

struct Interface {
    std::string name;
    unsigned index = 0;
    bool loopback = false;
};

// Looks the interface up; throws UsageError if there is none by that name.
Interface findInterface(const std::string& name);

// Throws Refusal unless serving keeps all traffic off real networks: the group
// joined on loopback and every host on 127.0.0.0/8, or else a network
// namespace proven private.
void ensureSafeToServe(const Interface& interface, std::uint32_t firstAddress, std::uint32_t hosts);

}  // namespace zorvik::devicesim

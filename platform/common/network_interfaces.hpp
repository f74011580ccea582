#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorvik {

// One address of a network interface as the system lists it; an interface
// without an IPv4 address is listed once with address 0.
struct NetworkInterface {
    std::string name;
    std::uint32_t address = 0;  // IPv4, network byte order
    bool up = false;
    bool multicast = false;
    bool loopback = false;
};

// The system's interfaces, in its order; each platform's adapters define it.
// Throws Failure when the system cannot list them.
std::vector<NetworkInterface> listNetworkInterfaces();

// The name, as listNetworkInterfaces gives it, of the interface with this
// index (the one a datagram says it came in on); empty when there is none.
std::string interfaceNameOf(std::uint32_t index);

}  // namespace zorvik

#pragma once

#include <vector>

#include "neighbours.hpp"
#include "network_interfaces.hpp"
#include "system_calls.hpp"

namespace zorvik {

// readNeighbourTable() and listNetworkInterfaces() as read through `calls`,
// so that a test can make a read fail; those are these with the kernel's calls.
std::vector<Neighbour> readNeighbourTable(SystemCalls& calls);
std::vector<NetworkInterface> listNetworkInterfaces(SystemCalls& calls);

}  // namespace zorvik

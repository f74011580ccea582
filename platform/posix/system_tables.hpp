#pragma once

#include <vector>

#include "neighbours.hpp"
#include "network_interfaces.hpp"
#include "system_calls.hpp"

namespace zorvik {

// readNeighbourTable() and listNetworkInterfaces() through the caller's seam,
// so that a test can make a call fail; without one they use the kernel's.
std::vector<Neighbour> readNeighbourTable(SystemCalls& calls);
std::vector<NetworkInterface> listNetworkInterfaces(SystemCalls& calls);

}  // namespace zorvik

#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik {

// One datagram as it is taken from the system: the sender's IPv4 address and
// port in network byte order, the payload, when the receive thread took it,
// and the index of the interface it came in on (0: not known).
struct ReceivedDatagram {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    std::string payload;
    std::chrono::steady_clock::time_point arrived{};
    std::uint32_t interfaceIndex = 0;
};
using ReceiveBatch = std::vector<ReceivedDatagram>;

}  // namespace zorvik

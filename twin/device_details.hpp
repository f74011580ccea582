#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik {

struct DeviceDetails { std::string mac, maker, name; };  // empty where unknown

// What the system knows of each address (IPv4, network byte order), in the same order.
// Host names are looked up for at most `nameBudget` in all; the call returns within it.
std::vector<DeviceDetails> lookUpDetails(const std::vector<std::uint32_t>& addresses, std::chrono::milliseconds nameBudget);

}  // namespace zorvik

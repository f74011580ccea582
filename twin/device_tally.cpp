#include "device_tally.hpp"

namespace zorvik {

std::uint64_t DeviceTally::add(std::uint32_t address, int probe, std::uint32_t interfaceIndex) {
    const std::uint32_t bit = std::uint32_t{1} << probe;
    if (const auto found = index_.find(address); found != index_.end()) {
        devices_[found->second].probes |= bit;
        return ++devices_[found->second].answers;
    }
    if (devices_.size() >= kMaxDevices) {
        overflowed_ = true;
        return 0;
    }
    index_.emplace(address, devices_.size());
    devices_.push_back({address, 1, bit, interfaceIndex});
    return 1;
}

}  // namespace zorvik

#include "device_tally.hpp"

namespace zorvik {

std::uint64_t DeviceTally::add(std::uint32_t address, std::uint32_t interfaceIndex) {
    if (const auto found = index_.find(address); found != index_.end()) {
        return ++devices_[found->second].answers;
    }
    if (devices_.size() >= kMaxDevices) {
        overflowed_ = true;
        return 0;
    }
    index_.emplace(address, devices_.size());
    devices_.push_back({address, 1, interfaceIndex});
    return 1;
}

}  // namespace zorvik

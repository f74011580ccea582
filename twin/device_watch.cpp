#include "device_watch.hpp"

#include <algorithm>
#include <cstring>

namespace zorvik {
namespace {

// 10.0.0.9 before 10.0.0.10, whatever the machine's byte order.
std::uint32_t numericOrder(std::uint32_t networkOrder) {
    unsigned char octets[4];
    std::memcpy(octets, &networkOrder, sizeof octets);
    return std::uint32_t{octets[0]} << 24 | std::uint32_t{octets[1]} << 16 | std::uint32_t{octets[2]} << 8 | octets[3];
}

}  // namespace

DeviceWatch::DeviceWatch(std::int32_t missingRounds, Clock clock, std::size_t maxDevices)
    : missingRounds_(missingRounds), clock_(std::move(clock)), maxDevices_(maxDevices) {}

void DeviceWatch::answered(std::uint32_t address) {
    if (const auto found = devices_.find(address); found != devices_.end()) {
        found->second.answered = true;
    } else if (devices_.size() < maxDevices_) {
        devices_.emplace(address, State{0, true, false});
    } else {
        overflowed_ = true;
    }
}

std::vector<std::pair<std::uint32_t, bool>> DeviceWatch::presence() const {
    std::vector<std::pair<std::uint32_t, bool>> found;
    for (const auto& [address, state] : devices_) found.emplace_back(address, state.missed == 0);
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return numericOrder(a.first) < numericOrder(b.first);
    });
    return found;
}

std::vector<WatchEvent> DeviceWatch::endRound() {
    const auto now = clock_();
    std::vector<WatchEvent> appeared, gone;
    for (auto it = devices_.begin(); it != devices_.end();) {
        State& state = it->second;
        if (state.answered) {
            if (!state.announced) appeared.push_back({WatchEvent::Kind::Appeared, it->first, now});
            state = {0, false, true};
        } else if (++state.missed >= missingRounds_) {
            gone.push_back({WatchEvent::Kind::Gone, it->first, now});
            it = devices_.erase(it);
            continue;
        }
        ++it;
    }
    const auto byAddress = [](const WatchEvent& a, const WatchEvent& b) {
        return numericOrder(a.address) < numericOrder(b.address);
    };
    std::sort(appeared.begin(), appeared.end(), byAddress);
    std::sort(gone.begin(), gone.end(), byAddress);
    appeared.insert(appeared.end(), gone.begin(), gone.end());
    return appeared;
}

}  // namespace zorvik

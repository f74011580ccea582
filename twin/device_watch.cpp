#include "device_watch.hpp"

#include <algorithm>

namespace zorvik {

DeviceWatch::DeviceWatch(std::int32_t missingRounds, Clock clock, std::size_t maxDevices)
    : missingRounds_(missingRounds), clock_(std::move(clock)), maxDevices_(maxDevices) {}

void DeviceWatch::answered(std::uint32_t address, std::uint32_t interfaceIndex) {
    if (const auto found = devices_.find(address); found != devices_.end()) {
        found->second.answered = true;
    } else if (devices_.size() < maxDevices_) {
        devices_.emplace(address, State{0, true, false, interfaceIndex});
    } else {
        overflowed_ = true;
    }
}

std::vector<DeviceWatch::Presence> DeviceWatch::presence() const {
    std::vector<Presence> found;
    for (const auto& [address, state] : devices_) found.push_back({address, state.missed == 0, state.interfaceIndex});
    std::sort(found.begin(), found.end(), [](const Presence& a, const Presence& b) {
        return addressOrder(a.address) < addressOrder(b.address);
    });
    return found;
}

bool DeviceWatch::roundSilent() const {
    std::size_t before = 0, silent = 0;
    for (const auto& [address, state] : devices_) {
        before += state.announced ? 1 : 0;
        silent += state.announced && !state.answered ? 1 : 0;
    }
    return silent >= kLostRoundDevices && silent * 2 > before;
}

std::vector<WatchEvent> DeviceWatch::endRound() {
    const auto now = clock_();
    const bool lost = !lastLost_ && roundSilent();
    lastLost_ = lost;
    std::vector<WatchEvent> appeared, gone;
    for (auto it = devices_.begin(); it != devices_.end();) {
        State& state = it->second;
        if (state.answered) {
            if (!state.announced) appeared.push_back({WatchEvent::Kind::Appeared, it->first, now});
            state.missed = 0, state.answered = false, state.announced = true;
        } else if (!lost && ++state.missed >= missingRounds_) {
            gone.push_back({WatchEvent::Kind::Gone, it->first, now});
            it = devices_.erase(it);
            continue;
        }
        ++it;
    }
    const auto byAddress = [](const WatchEvent& a, const WatchEvent& b) {
        return addressOrder(a.address) < addressOrder(b.address);
    };
    std::sort(appeared.begin(), appeared.end(), byAddress);
    std::sort(gone.begin(), gone.end(), byAddress);
    appeared.insert(appeared.end(), gone.begin(), gone.end());
    if (lost) appeared.push_back({WatchEvent::Kind::RoundLost, 0, now});
    return appeared;
}

}  // namespace zorvik

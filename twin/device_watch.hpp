#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "device_tally.hpp"

namespace zorvik {

struct WatchEvent {
    enum class Kind { Appeared, Gone, RoundLost };
    Kind kind;
    std::uint32_t address;  // IPv4, network byte order; none for a round lost
    std::chrono::system_clock::time_point time;
};

// What a watch remembers from round to round: the devices now present, each
// with the rounds it has missed in a row. A device counted gone is forgotten,
// so its next answer makes it appear again, and a spoofed address costs a
// place only until it is gone. At most maxDevices are present at once; an
// answer from a new device past that is ignored. So memory stays flat however
// long the watch and however many addresses answer. A round in which most
// devices fall silent at once is taken for a lost probe, not for devices gone.
class DeviceWatch {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    DeviceWatch(std::int32_t missingRounds, Clock clock, std::size_t maxDevices = kMaxDevices);

    // An answer from `address` in the current round.
    // An answer from `address` in the current round, by `interfaceIndex` (0: not known).
    void answered(std::uint32_t address, std::uint32_t interfaceIndex = 0);
    // Whether more than half of the devices present before this round, and at
    // least kLostRoundDevices, have not answered in it: worth a second probe.
    bool roundSilent() const;
    // Ends the round, stamped by the clock: the devices that appeared, then
    // those now gone, each in address order. A silent round is lost instead:
    // one RoundLost event, and the silent devices' missed rounds stay as they
    // were; but never two rounds in a row, so that a fleet truly gone goes.
    std::vector<WatchEvent> endRound();

    std::size_t present() const noexcept { return devices_.size(); }
    // The devices present, in address order, each with whether it answered in
    // the round that ended last and the interface of its first answer.
    struct Presence {
        std::uint32_t address;
        bool up;
        std::uint32_t interfaceIndex;
    };
    std::vector<Presence> presence() const;
    // Whether an answer was ignored for the cap.
    bool overflowed() const noexcept { return overflowed_; }

    static constexpr std::size_t kLostRoundDevices = 3;

private:
    struct State {
        std::int32_t missed = 0;
        bool answered = false;
        bool announced = false;
        std::uint32_t interfaceIndex = 0;
    };

    std::int32_t missingRounds_;
    Clock clock_;
    std::size_t maxDevices_;
    std::unordered_map<std::uint32_t, State> devices_;
    bool overflowed_ = false;
    bool lastLost_ = false;
};

}  // namespace zorvik

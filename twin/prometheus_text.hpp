#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zorvik {

// What the twin tells Prometheus after a wait or a round.
struct PrometheusSnapshot {
    struct Device {
        std::string address;    // dotted
        std::string interface;  // the one its answer came in on; untrusted
        std::string label;      // from the inventory; untrusted
        bool up = false;        // answered, rather than expected or present and silent
    };
    std::vector<Device> devices;
    std::uint64_t answers = 0;  // since the program started
    std::uint64_t droppedBySystem = 0, droppedByProgram = 0;
    std::chrono::system_clock::time_point time;  // when the wait or round ended
};

// The node exporter's textfile format of `snapshot`, its lines ending in "\n"
// on every platform, as the format requires.
std::string prometheusText(const PrometheusSnapshot& snapshot);

}  // namespace zorvik

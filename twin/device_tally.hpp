#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace zorvik {

// Addresses can be spoofed, so every table of devices the twin keeps has a cap.
inline constexpr std::size_t kMaxDevices = 65'536;

// The value by which IPv4 addresses (network byte order) sort as numbers:
// 10.0.0.9 before 10.0.0.10, whatever the machine's byte order.
inline std::uint32_t addressOrder(std::uint32_t networkOrder) {
    unsigned char octets[4];
    std::memcpy(octets, &networkOrder, sizeof octets);
    return std::uint32_t{octets[0]} << 24 | std::uint32_t{octets[1]} << 16 | std::uint32_t{octets[2]} << 8 | octets[3];
}

// The devices of one discovery, in the order of their first answers, each
// with its count of answers. Past the cap, new devices are not counted.
class DeviceTally {
public:
    struct Device {
        std::uint32_t address = 0;  // IPv4, network byte order
        std::uint64_t answers = 0;
        std::uint32_t probes = 0;          // a bit for each probe answered, the first the lowest
        std::uint32_t interfaceIndex = 0;  // the first answer's (0: not known)
    };

    // Counts an answer from `address` to probe `probe` (0 the first) that came
    // in by `interfaceIndex`: its device's answers so far, 1 for a new one, or
    // 0 for a new one past the cap.
    std::uint64_t add(std::uint32_t address, int probe = 0, std::uint32_t interfaceIndex = 0);

    const std::vector<Device>& devices() const noexcept { return devices_; }
    // Whether a device went uncounted for the cap.
    bool overflowed() const noexcept { return overflowed_; }

private:
    std::vector<Device> devices_;
    std::unordered_map<std::uint32_t, std::size_t> index_;
    bool overflowed_ = false;
};

}  // namespace zorvik

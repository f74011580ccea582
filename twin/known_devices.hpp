#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "neighbours.hpp"

namespace zorvik {

// A device that should answer, from --known: by its IPv4 address, or by its
// MAC for a device on the local segment.
struct KnownDevice {
    std::optional<std::uint32_t> address;  // network byte order
    std::optional<std::uint64_t> mac;      // the six octets, the first highest
    std::string label;                     // from a file: untrusted, at most kMaxLabelBytes
    // The address or MAC as the program writes it: "10.0.0.9", "00:22:72:00:00:01".
    std::string listed() const;
};

inline constexpr std::size_t kMaxKnownDevices = 10'000;
inline constexpr std::size_t kMaxLabelBytes = 100;
inline constexpr std::size_t kMaxKnownFileBytes = 2 << 20;

// The devices of a --known file's text, in its order: one a line, an IPv4 or a
// MAC address (':' or '-' between its octets), then a label after whitespace
// or as a CSV line's second column (further columns ignored). Blank lines,
// lines starting with #, and a first CSV line whose first field has no digit
// (a header) are skipped. Throws UsageError "FILE:LINE: why" for a line that is
// none of these, a device listed twice, too long a label or too many devices.
std::vector<KnownDevice> parseKnownDevices(std::string_view text, std::string_view file);
// The same from the regular file at `path` of at most kMaxKnownFileBytes.
std::vector<KnownDevice> readKnownDevices(const std::string& path);

// Which known devices answered. An answer is matched by its address, and by the
// MAC the neighbour table holds for that address: beyond a router the table
// holds the router's, so a MAC matches only on the local segment.
class Inventory {
public:
    using Neighbours = std::function<std::vector<Neighbour>()>;

    explicit Inventory(std::vector<KnownDevice> devices, Neighbours neighbours = readNeighbourTable);

    // The known device (if any) that answered from `address` at `arrived`,
    // marked as answered. The table is read again for an address it lacked
    // only if it was read before the answer arrived: once for a burst.
    const KnownDevice* answered(std::uint32_t address, std::chrono::steady_clock::time_point arrived);
    // The known device an earlier answer from `address` matched, if any.
    const KnownDevice* find(std::uint32_t address) const;
    // Those that have not answered, in the file's order.
    std::vector<const KnownDevice*> missing() const;
    std::size_t size() const noexcept { return devices_.size(); }

private:
    void markMac(std::uint32_t address, std::optional<std::size_t>& first);

    std::vector<KnownDevice> devices_;
    std::vector<bool> answered_;
    std::unordered_map<std::uint32_t, std::size_t> byAddress_;
    std::unordered_map<std::uint64_t, std::size_t> byMac_;
    Neighbours neighbours_;
    std::unordered_map<std::uint32_t, std::uint64_t> macs_;  // the table as last read
    std::optional<std::chrono::steady_clock::time_point> readAt_;
    // Each address's match, so that repeated answers cost nothing; capped, as addresses can be spoofed.
    std::unordered_map<std::uint32_t, std::optional<std::size_t>> seen_;
};

// "2 missing: printer (10.0.0.9), aa:bb:cc:dd:ee:ff", naming at most `named`,
// then "and N more"; one line, each label visible text with no '|'.
std::string missingSummary(std::span<const KnownDevice* const> missing, std::size_t named = 3);

}  // namespace zorvik

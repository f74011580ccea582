#include "device_details.hpp"

#include <array>
#include <optional>
#include <unordered_map>

#include "name_lookups.hpp"
#include "neighbours.hpp"

namespace zorvik {

namespace {

std::string macText(const std::array<std::uint8_t, 6>& mac) {
    constexpr std::string_view digits = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t octet : mac) {
        if (!text.empty()) {
            text += ':';
        }
        text += digits[octet >> 4];
        text += digits[octet & 0xf];
    }
    return text;
}

std::string makerOf(const std::array<std::uint8_t, 6>& mac, const MakerTable& makers) {
    if ((mac[0] & 0x02) != 0) {
        return std::string(kLocallyAdministered);
    }
    std::uint64_t value = 0;
    for (const std::uint8_t octet : mac) {
        value = value << 8 | octet;
    }
    return std::string(makers.makerOf(value));
}

}  // namespace

std::vector<DeviceDetails> lookUpDetails(const std::vector<std::uint32_t>& addresses,
                                         std::chrono::milliseconds nameBudget, const MakerNote& note,
                                         const MakerTable* given) {
    const auto deadline = std::chrono::steady_clock::now() + nameBudget;
    // The names first, as they take longest; the rest is read meanwhile.
    NameLookups names(addresses, hostNameOf);
    std::unordered_map<std::uint32_t, std::array<std::uint8_t, 6>> macs;
    for (const Neighbour& n : readNeighbourTable()) {
        macs.emplace(n.address, n.mac);  // an address on two links keeps the first
    }
    std::vector<DeviceDetails> details(addresses.size());
    std::optional<MakerTable> makers;  // read only for a device with a MAC
    if (given) makers = *given;
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        if (const auto known = macs.find(addresses[i]); known != macs.end()) {
            if (!makers) makers = installedMakers(note);
            details[i].mac = macText(known->second);
            details[i].maker = makerOf(known->second, *makers);
        }
    }
    std::vector<std::string> found = names.takeBy(deadline);
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        details[i].name = std::move(found[i]);
    }
    return details;
}

}  // namespace zorvik

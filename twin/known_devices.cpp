#include "known_devices.hpp"

#include <algorithm>

#include "csv_reader.hpp"
#include "destination.hpp"
#include "device_tally.hpp"
#include "interface_choice.hpp"
#include "regular_file.hpp"
#include "untrusted_text.hpp"

namespace zorvik {
namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Six pairs of hex digits, all split by ':' or all by '-'.
std::optional<std::uint64_t> parseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::uint64_t mac = 0;
    for (std::size_t i = 0; i < 17; i += 3) {
        const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0 || (i > 0 && text[i - 1] != text[2]) || (text[2] != ':' && text[2] != '-')) {
            return std::nullopt;
        }
        mac = mac << 8 | static_cast<std::uint64_t>(high << 4 | low);
    }
    return mac;
}

std::uint64_t macValue(const std::array<std::uint8_t, 6>& octets) {
    std::uint64_t mac = 0;
    for (const std::uint8_t octet : octets) mac = mac << 8 | octet;
    return mac;
}

// Quoted for a message, and short: a line may be long.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 40;
    return '"' + visibleText(text.substr(0, kShown)) + (text.size() > kShown ? "...\"" : "\"");
}

}  // namespace

std::string KnownDevice::listed() const {
    if (address) return dottedAddress(*address);
    constexpr std::string_view digits = "0123456789abcdef";
    std::string text;
    for (int shift = 40; shift >= 0; shift -= 8) {
        if (!text.empty()) text += ':';
        text += digits[*mac >> (shift + 4) & 0xf];
        text += digits[*mac >> shift & 0xf];
    }
    return text;
}

std::vector<KnownDevice> parseKnownDevices(std::string_view text, std::string_view file) {
    const std::string name = visibleText(file);
    if (text.starts_with("\xff\xfe") || text.starts_with("\xfe\xff")) {
        throw UsageError(name + ": it is UTF-16 text; save it as UTF-8");
    }
    if (text.starts_with("\xef\xbb\xbf")) text.remove_prefix(3);  // as Notepad writes UTF-8
    std::vector<KnownDevice> devices;
    std::unordered_map<std::string, std::size_t> lineOf;  // each device's line, to name a second listing
    bool first = true;
    std::vector<std::string> fields;
    for (std::size_t number = 1; !text.empty(); ++number) {
        const auto end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.empty() || line.starts_with('#')) continue;
        const auto refuse = [&](const std::string& why) {
            throw UsageError(name + ':' + std::to_string(number) + ": " + why);
        };
        const auto split = line.find_first_of(std::string_view(" \t,"));
        const auto next = line.find_first_not_of(kBlanks, std::min(split, line.size()));
        const bool csv = next != std::string_view::npos && line[next] == ',';
        std::string_view key = line.substr(0, split), label;
        if (csv) {
            CsvReader(line).next(fields);
            key = trimmed(fields[0]);
            label = fields.size() > 1 ? trimmed(fields[1]) : std::string_view();
        } else if (split != std::string_view::npos) {
            label = trimmed(line.substr(split));
        }
        KnownDevice device{parseDottedAddress(key), parseMac(key), std::string(label)};
        const bool header = first && csv &&
                            std::none_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
        first = false;
        if (!device.address && !device.mac) {
            if (header) continue;
            refuse(quoted(key) + " is not an IPv4 or MAC address");
        }
        if (device.label.size() > kMaxLabelBytes) {
            refuse("the label is longer than " + std::to_string(kMaxLabelBytes) + " bytes");
        }
        const auto [at, added] = lineOf.emplace(device.listed(), number);
        if (!added) refuse(at->first + " is listed already, on line " + std::to_string(at->second));
        if (devices.size() == kMaxKnownDevices) {
            refuse("more than " + std::to_string(kMaxKnownDevices) + " devices");
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

std::vector<KnownDevice> readKnownDevices(const std::string& path) {
    const FileRead file = readRegularFile(path, kMaxKnownFileBytes);
    if (!file.problem.empty()) throw UsageError(visibleText(path) + ": " + file.problem);
    return parseKnownDevices(file.text, path);
}

Inventory::Inventory(std::vector<KnownDevice> devices, Neighbours neighbours)
    : devices_(std::move(devices)), answered_(devices_.size()), neighbours_(std::move(neighbours)) {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].address) byAddress_.emplace(*devices_[i].address, i);
        if (devices_[i].mac) byMac_.emplace(*devices_[i].mac, i);
    }
}

void Inventory::markMac(std::uint32_t address, std::optional<std::size_t>& first) {
    const auto mac = macs_.find(address);
    if (mac == macs_.end()) return;
    if (const auto known = byMac_.find(mac->second); known != byMac_.end()) {
        answered_[known->second] = true;
        if (!first) first = known->second;
    }
}

const KnownDevice* Inventory::answered(std::uint32_t address, std::chrono::steady_clock::time_point arrived) {
    if (const auto seen = seen_.find(address); seen != seen_.end()) {
        return seen->second ? &devices_[*seen->second] : nullptr;
    }
    std::optional<std::size_t> match;
    if (const auto known = byAddress_.find(address); known != byAddress_.end()) {
        answered_[known->second] = true;
        match = known->second;
    }
    if (!byMac_.empty()) {
        if (!macs_.contains(address) && (!readAt_ || *readAt_ < arrived)) {
            readAt_ = std::chrono::steady_clock::now();
            macs_.clear();
            for (const Neighbour& n : neighbours_()) macs_.emplace(n.address, macValue(n.mac));
        }
        markMac(address, match);
    }
    if (seen_.size() < kMaxDevices) seen_.emplace(address, match);
    return match ? &devices_[*match] : nullptr;
}

const KnownDevice* Inventory::find(std::uint32_t address) const {
    if (const auto seen = seen_.find(address); seen != seen_.end()) {
        return seen->second ? &devices_[*seen->second] : nullptr;
    }
    const auto known = byAddress_.find(address);
    return known == byAddress_.end() ? nullptr : &devices_[known->second];
}

std::vector<const KnownDevice*> Inventory::missing() const {
    std::vector<const KnownDevice*> missing;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (!answered_[i]) missing.push_back(&devices_[i]);
    }
    return missing;
}

std::string missingSummary(std::span<const KnownDevice* const> missing, std::size_t named) {
    std::string text = std::to_string(missing.size()) + " missing: ";
    for (std::size_t i = 0; i < missing.size() && i < named; ++i) {
        if (i > 0) text += ", ";
        const KnownDevice& device = *missing[i];
        if (device.label.empty()) {
            text += device.listed();
            continue;
        }
        // A '|' would start the performance data.
        std::string label = visibleText(device.label);
        for (std::size_t bar; (bar = label.find('|')) != std::string::npos;) label.replace(bar, 1, "\\x7c");
        text += label + " (" + device.listed() + ')';
    }
    if (missing.size() > named) text += " and " + std::to_string(missing.size() - named) + " more";
    return text;
}

}  // namespace zorvik

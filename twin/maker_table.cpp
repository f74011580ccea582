#include "maker_table.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

#include "csv_reader.hpp"

namespace zorvik {

namespace {

constexpr std::uint64_t kNameMask = (std::uint64_t{1} << MakerTable::kNameBits) - 1;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    return first == std::string_view::npos ? std::string_view{}
                                           : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Sorted by prefix; of the entries for one prefix, the first added stays.
void settle(std::vector<std::uint64_t>& blocks) {
    const auto prefixOf = [](std::uint64_t entry) { return entry >> MakerTable::kNameBits; };
    std::stable_sort(blocks.begin(), blocks.end(),
                     [&](std::uint64_t a, std::uint64_t b) { return prefixOf(a) < prefixOf(b); });
    blocks.erase(std::unique(blocks.begin(), blocks.end(),
                             [&](std::uint64_t a, std::uint64_t b) { return prefixOf(a) == prefixOf(b); }),
                 blocks.end());
}

}  // namespace

std::string_view MakerTable::makerOf(std::uint64_t mac) const {
    for (const auto& [blocks, bits] : {std::pair{small, 36}, {medium, 28}, {large, 24}}) {
        const std::uint64_t prefix = mac >> (48 - bits);
        const auto entry = std::lower_bound(blocks.begin(), blocks.end(), prefix << kNameBits);
        if (entry != blocks.end() && *entry >> kNameBits == prefix) {
            const std::size_t name = *entry & kNameMask;
            if (name + 1 >= nameStarts.size() || nameStarts[name] > nameStarts[name + 1] ||
                nameStarts[name + 1] > nameText.size()) {
                return {};  // a table that does not hold together names no one
            }
            return nameText.substr(nameStarts[name], nameStarts[name + 1] - nameStarts[name]);
        }
    }
    return {};
}

void MakerRegistry::addCsv(std::string_view text) {
    CsvReader reader(text);
    std::vector<std::string> fields;
    while (reader.next(fields)) {
        // Registry, Assignment (the prefix in hex), Organization Name, Organization Address.
        if (fields.size() < 3) {
            continue;
        }
        const std::string_view hex = fields[1], name = trimmed(fields[2]);
        auto* blocks = hex.size() == 9 ? &small_ : hex.size() == 7 ? &medium_ : hex.size() == 6 ? &large_ : nullptr;
        std::uint64_t prefix = 0;
        const auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), prefix, 16);
        // Skips the header, and any line that names no block.
        if (blocks != nullptr && error == std::errc{} && end == hex.data() + hex.size() && !name.empty() &&
            indexOf_.size() < kNameMask) {
            blocks->push_back(prefix << MakerTable::kNameBits | nameIndex(name));
        }
    }
    for (auto* blocks : {&small_, &medium_, &large_}) {
        settle(*blocks);
    }
}

std::uint32_t MakerRegistry::nameIndex(std::string_view name) {
    const auto next = static_cast<std::uint32_t>(nameStarts_.size() - 1);
    const auto [known, added] = indexOf_.try_emplace(std::string(name), next);
    if (added) {
        nameText_ += name;
        nameStarts_.push_back(static_cast<std::uint32_t>(nameText_.size()));
    }
    return known->second;
}

}  // namespace zorvik

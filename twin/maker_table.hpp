#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zorvik {

// The IEEE's registered blocks of MAC addresses in compact form: for each block
// size, the sorted prefixes, each entry `prefix << kNameBits | name index`.
struct MakerTable {
    static constexpr int kNameBits = 24;
    std::span<const std::uint64_t> small;   // MA-S and the old IAB blocks: 36-bit prefixes
    std::span<const std::uint64_t> medium;  // MA-M: 28 bits
    std::span<const std::uint64_t> large;   // MA-L: 24 bits
    std::string_view nameText;                  // the makers' names, one after another
    std::span<const std::uint32_t> nameStarts;  // where each starts in nameText, then where the last ends

    // The maker of the block holding the 48-bit `mac`, by the longest match; empty if none.
    std::string_view makerOf(std::uint64_t mac) const;
};

// A MakerTable read from the registries' CSV files (oui.csv, mam.csv, oui36.csv, iab.csv).
class MakerRegistry {
public:
    // Adds the blocks of one registry file's text; a block already known keeps its maker.
    void addCsv(std::string_view text);

    MakerTable table() const { return {small_, medium_, large_, nameText_, nameStarts_}; }

private:
    std::uint32_t nameIndex(std::string_view name);

    std::vector<std::uint64_t> small_, medium_, large_;
    std::string nameText_;
    std::vector<std::uint32_t> nameStarts_{0};
    std::unordered_map<std::string, std::uint32_t> indexOf_;
};

}  // namespace zorvik

// make_maker_table: writes the makers of MAC address blocks, read from the
// IEEE registries' CSV files, as a C++ table for programs that cannot read
// those files where they run. Built for and run on the build machine; the same
// files give the same bytes.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "maker_table.hpp"

namespace {

void writeBlocks(std::ostream& out, const char* name, std::span<const std::uint64_t> blocks) {
    out << "constexpr std::uint64_t " << name << "[] = {";
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        out << (i % 6 == 0 ? "\n   " : "") << " 0x" << std::hex << blocks[i] << std::dec << "u,";
    }
    out << "\n};\n";
}

void writeString(std::ostream& out, std::string_view text) {
    constexpr std::string_view octal = "01234567";
    out << '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '"' && c != '\\') {
            out << c;
        } else {
            out << '\\' << octal[byte >> 6] << octal[(byte >> 3) & 7] << octal[byte & 7];
        }
    }
    out << '"';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: make_maker_table OUTPUT.cpp SOURCE-NAME CSV-FILE...\n";
        return 2;
    }
    zorvik::MakerRegistry registry;
    for (int i = 3; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::string text(std::istreambuf_iterator<char>(file), {});
        if (!file) {
            std::cerr << "make_maker_table: cannot read " << argv[i] << '\n';
            return 1;
        }
        registry.addCsv(text);
    }
    const zorvik::MakerTable table = registry.table();
    if (table.small.empty() || table.medium.empty() || table.large.empty()) {
        std::cerr << "make_maker_table: no MA-S, MA-M or MA-L blocks in the files given\n";
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << "// Made by make_maker_table from " << argv[2] << "; not to be edited.\n"
        << "#include \"installed_makers.hpp\"\n\nnamespace zorvik {\n\nnamespace {\n\n";
    writeBlocks(out, "kSmall", table.small);
    writeBlocks(out, "kMedium", table.medium);
    writeBlocks(out, "kLarge", table.large);
    // One literal, written a name a line.
    out << "constexpr char kNameText[] =";
    for (std::size_t i = 0; i + 1 < table.nameStarts.size(); ++i) {
        out << "\n    ";
        writeString(out, table.nameText.substr(table.nameStarts[i], table.nameStarts[i + 1] - table.nameStarts[i]));
    }
    out << ";\nconstexpr std::uint32_t kNameStarts[] = {";
    for (std::size_t i = 0; i < table.nameStarts.size(); ++i) {
        out << (i % 10 == 0 ? "\n   " : "") << ' ' << table.nameStarts[i] << "u,";
    }
    out << "\n};\n\n}  // namespace\n\nMakerTable installedMakers(const MakerNote&) {\n"
        << "    return {kSmall, kMedium, kLarge, {kNameText, sizeof kNameText - 1}, kNameStarts};\n}\n\n"
        << "std::string installedMakersSource() {\n    return ";
    writeString(out, std::string(argv[2]) + ", built in");
    out << ";\n}\n\n}  // namespace zorvik\n";
    out.close();
    if (!out) {
        std::cerr << "make_maker_table: cannot write " << argv[1] << '\n';
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}

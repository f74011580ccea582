// The IEEE registries' CSV files as read, and the maker of a MAC by the longest match.
#include "maker_table.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "csv_reader.hpp"
#include "installed_makers.hpp"

namespace zorvik {
namespace {

using Records = std::vector<std::vector<std::string>>;

Records records(std::string_view text) {
    CsvReader reader(text);
    Records all;
    for (std::vector<std::string> fields; reader.next(fields);) all.push_back(fields);
    return all;
}

TEST(CsvReaderTest, next_quotedCommasQuotesAndLineBreaks_fieldsAsWritten) {
    EXPECT_EQ(records("a,b\r\n\"c, d\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",\n,x\ry"),
              (Records{{"a", "b"}, {"c, d", "say \"hi\""}, {"two\r\nlines", ""}, {"", "x\ry"}}));
    EXPECT_EQ(records("a\n\nb\n"), (Records{{"a"}, {""}, {"b"}}));
    EXPECT_EQ(records(""), Records{});
}

std::string written(const char* name, const std::string& rows) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary) << "Registry,Assignment,Organization Name,Organization Address\r\n" << rows;
    return path;
}

TEST(MakerRegistryTest, makerOf_nestedBlocksFromFiles_longestMatchFirstNameElseNone) {
    MakerRegistry registry;
    EXPECT_FALSE(registry.addCsvFile(::testing::TempDir() + "no-such.csv"));
    ASSERT_TRUE(registry.addCsvFile(written("oui.csv", "MA-L,0050C2,Registry Itself,\r\n"
                                                       "MA-L,002272,\"Large, Inc.\",\"1 Road,\nTown\"\r\n"
                                                       "MA-L,002272,Later Claim,\r\nMA-L,00227G,Not Hex,\r\n")));
    ASSERT_TRUE(registry.addCsvFile(written("mam.csv", "MA-M,0050C2A,Medium Ltd ,\r\n")));
    ASSERT_TRUE(registry.addCsvFile(written("iab.csv", "IAB,0050C2AB1,Small GmbH,x\r\n")));
    const MakerTable table = registry.table();
    for (const auto& [mac, maker] : std::initializer_list<std::pair<std::uint64_t, std::string_view>>{
             {0x0050C2AB1000, "Small GmbH"}, {0x0050C2AB1FFF, "Small GmbH"}, {0x0050C2AB0FFF, "Medium Ltd"},
             {0x0050C2AB2000, "Medium Ltd"}, {0x0050C2B00000, "Registry Itself"}, {0x002272000001, "Large, Inc."},
             {0x002273000001, ""}, {0x00227F000000, ""}, {0xFFFFFFFFFFFF, ""}})
        EXPECT_EQ(table.makerOf(mac), maker) << std::hex << mac;
}

TEST(InstalledMakersTest, makerOf_registeredBlocks_theirMakers) {
    const MakerTable installed = installedMakers();
    EXPECT_EQ(installed.makerOf(0x002272000001), "American Micro-Fuel Device Corp.");  // MA-L
    EXPECT_EQ(installed.makerOf(0x208593B00001), "IOG Products LLC");                  // MA-M
    EXPECT_EQ(installed.makerOf(0x70B3D5F3E022), "ООО \"РОНЕКС\"");  // MA-S, quoted, in UTF-8
    EXPECT_EQ(installed.makerOf(0x0050C27D5001), "DEUTA-WERKE GmbH");                  // IAB
}

}  // namespace
}  // namespace zorvik

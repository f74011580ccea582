// The IEEE registries' CSV files as read, and the maker of a MAC by the longest match.
#include "maker_table.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "csv_reader.hpp"
#include "installed_makers.hpp"
#include "interface_choice.hpp"

#ifndef _WIN32
#include "regular_file.hpp"
#include "scripted_calls.hpp"
#endif

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

TEST(MakerRegistryTest, makerOf_nestedBlocksFromFiles_longestMatchFirstNameElseNone) {
    MakerRegistry registry;
    const std::string header = "Registry,Assignment,Organization Name,Organization Address\r\n";
    registry.addCsv(header + "MA-L,0050C2,Registry Itself,\r\nMA-L,002272,\"Large, Inc.\",\"1 Road,\nTown\"\r\n"
                             "MA-L,002272,Later Claim,\r\nMA-L,00227G,Not Hex,\r\n");
    registry.addCsv(header + "MA-M,0050C2A,Medium Ltd ,\r\n");
    registry.addCsv(header + "IAB,0050C2AB1,Small GmbH,x\r\n");
    const MakerTable table = registry.table();
    for (const auto& [mac, maker] : std::initializer_list<std::pair<std::uint64_t, std::string_view>>{
             {0x0050C2AB1000, "Small GmbH"}, {0x0050C2AB1FFF, "Small GmbH"}, {0x0050C2AB0FFF, "Medium Ltd"},
             {0x0050C2AB2000, "Medium Ltd"}, {0x0050C2B00000, "Registry Itself"}, {0x002272000001, "Large, Inc."},
             {0x002273000001, ""}, {0x00227F000000, ""}, {0xFFFFFFFFFFFF, ""}})
        EXPECT_EQ(table.makerOf(mac), maker) << std::hex << mac;
}

TEST(InstalledMakersTest, makerOf_registeredBlocks_theirMakers) {
    const MakerTable installed = installedMakers([](const std::string& note) { ADD_FAILURE() << note; });
    EXPECT_EQ(installed.makerOf(0x002272000001), "American Micro-Fuel Device Corp.");  // MA-L
    EXPECT_EQ(installed.makerOf(0x208593B00001), "IOG Products LLC");                  // MA-M
    EXPECT_EQ(installed.makerOf(0x70B3D5F3E022), "ООО \"РОНЕКС\"");  // MA-S, quoted, in UTF-8
    EXPECT_EQ(installed.makerOf(0x0050C27D5001), "DEUTA-WERKE GmbH");                  // IAB
}

std::string folder(const std::string& name) {
    const std::string path = ::testing::TempDir() + name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

// --maker-dir, on either platform: the registries there, as many as there are,
// one that is no regular file with a note; none at all an error naming the folder.
TEST(InstalledMakersTest, folderMakers_someRegistriesThere_theirMakersOnly_noneAnErrorNamingTheFolder) {
    const std::string given = folder("makers-given"), none = folder("makers-given-none");
    std::ofstream(given + "/mam.csv") << "MA-M,0050C2A,Medium Ltd,\n";
    std::ofstream(given + "/oui.csv") << "Registry,Assignment,Organization Name,Organization Address\nMA-L,002272,Large,\n";
    std::filesystem::create_directory(given + "/iab.csv");
    std::filesystem::create_directory(none + "/oui.csv");
    std::vector<std::string> notes;
    const MakerRegistry registry = folderMakers(given, [&](const std::string& note) { notes.push_back(note); });
    const MakerTable table = registry.table();
    EXPECT_TRUE(table.makerOf(0x0050C2A00001) == "Medium Ltd" && table.makerOf(0x002272000001) == "Large" &&
                table.makerOf(0x0050C27D5001).empty());  // an IAB block of the installed data
    EXPECT_EQ(notes, std::vector<std::string>{"makers not read from " + given + "/iab.csv: it is a folder, not a regular file"});
    try {
        folderMakers(none, [](const std::string&) {});
        ADD_FAILURE() << "no error for " << none;
    } catch (const UsageError& error) {
        EXPECT_TRUE(std::string_view(error.what()).ends_with(" could be read in " + none)) << error.what();
    }
    for (const auto& made : {given, none}) std::filesystem::remove_all(made);
}

#ifndef _WIN32

// Each file from the first folder with a usable one; a missing file goes unsaid, and
// any that is no regular file of at most 16 MiB costs one note and nothing else.
TEST(InstalledMakersTest, readMakerFiles_fifoDeviceFolderHugeOrLoop_aNoteEach_missingUnsaid_nextFolderRead) {
    const std::string none = folder("makers-none"), odd = folder("makers-odd"), good = folder("makers-good"),
                      loop = folder("makers-loop");
    ASSERT_EQ(::mkfifo((odd + "/oui.csv").c_str(), 0600), 0);  // opened plainly, it would block
    std::filesystem::create_symlink("/dev/zero", odd + "/mam.csv");  // read plainly, it never ends
    std::filesystem::create_directory(odd + "/oui36.csv");
    std::ofstream(odd + "/iab.csv").close();
    std::filesystem::resize_file(odd + "/iab.csv", 20 << 20);
    std::ofstream(good + "/oui.csv") << "Registry,Assignment,Organization Name,Organization Address\nMA-L,002272,Good,\n";
    std::filesystem::create_symlink("oui.csv", loop + "/oui.csv");
    std::vector<std::string> notes;
    const auto read = [&](std::initializer_list<std::string_view> folders) {
        auto reading = std::async(std::launch::async, [&, folders] {
            return readMakerFiles(folders, [&](const std::string& note) { notes.push_back(note); });
        });
        if (reading.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            std::cerr << "readMakerFiles still reading after 20 s\n";
            std::_Exit(1);
        }
        return reading.get();
    };
    const MakerRegistry registry = read({none, odd, good});
    const std::string why = "makers not read from " + odd;
    EXPECT_EQ(notes, (std::vector<std::string>{why + "/oui36.csv: it is a folder, not a regular file",
                                               why + "/iab.csv: it is larger than 16777216 bytes",
                                               why + "/mam.csv: it is a device, not a regular file",
                                               why + "/oui.csv: it is a FIFO, not a regular file"}));
    const MakerTable table = registry.table();
    EXPECT_TRUE(table.small.empty() && table.medium.empty() && table.makerOf(0x002272000001) == "Good");
    notes.clear();
    EXPECT_TRUE(read({loop}).table().large.empty());
    EXPECT_EQ(notes, std::vector<std::string>{"makers not read from " + loop + "/oui.csv: error 40: Too many levels of symbolic links"});
    for (const auto& made : {none, odd, good, loop}) std::filesystem::remove_all(made);
}

// A signal during a read costs nothing; any call that fails is the file's problem, with its errno.
TEST(RegularFileTest, readRegularFile_callInterruptedOrFailing_readAllTheSame_elseErrorNAndItsText) {
    const std::string path = folder("makers-calls") + "/oui.csv";
    std::ofstream(path) << "abc";
    for (const auto& [call, error, problem] : std::initializer_list<std::tuple<const char*, int, std::string>>{
             {"read", EINTR, ""}, {"stat", EACCES, "error 13: Permission denied"},
             {"open", EMFILE, "error 24: Too many open files"}, {"fstat", EIO, "error 5: Input/output error"},
             {"read", EIO, "error 5: Input/output error"}}) {
        testing::ScriptedCalls calls;
        calls.fail(call, {error});
        const FileRead file = readRegularFile(path, 16, calls);
        const bool read = problem.empty();
        EXPECT_TRUE(file.text == (read ? "abc" : "") && file.error == (read ? 0 : error) && file.problem == problem)
            << call << ": " << file.error << " " << file.problem;
    }
    std::filesystem::remove_all(::testing::TempDir() + "makers-calls");
}
#endif

}  // namespace
}  // namespace zorvik

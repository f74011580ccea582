// The atomic replacement of a file on Linux, with the system's refusals at
// each step through the seam: the old file stays whole, no temporary is left.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "atomic_file.hpp"
#include "scripted_calls.hpp"

namespace zorvik {
namespace {

namespace fs = std::filesystem;

struct Folder {
    Folder() { fs::create_directory(path); }
    ~Folder() { fs::remove_all(path); }
    std::string entries() const {
        std::string names;
        for (const auto& entry : fs::directory_iterator(path)) names += entry.path().filename().string() + ';';
        return names;
    }
    std::string read(const char* name) const {
        std::ostringstream text;
        text << std::ifstream(path / name).rdbuf();
        return text.str();
    }
    fs::path path = fs::temp_directory_path() / ("atomic_file_test." + std::to_string(::getpid()));
};

TEST(AtomicFileTest, replaceFile_eachStepRefused_thatErrnoOldFileWholeNoTemporaryLeft_elseNewFileReadableByAll) {
    const Folder folder;
    const std::string file = (folder.path / "z.prom").string();
    ASSERT_FALSE(replaceFile(file, "old\n"));
    for (const char* step : {"open", "write", "fchmod", "fsync", "rename"}) {
        testing::ScriptedCalls calls;
        calls.fail(step, {ENOSPC});
        const auto failure = replaceFile(file, "new\n", calls);
        ASSERT_TRUE(failure) << step;
        EXPECT_EQ(failure->number(), ENOSPC) << step;
        EXPECT_EQ(failure->description(), "No space left on device");
        EXPECT_EQ(folder.read("z.prom"), "old\n") << step;
        EXPECT_EQ(folder.entries(), "z.prom;") << step;
        EXPECT_EQ(calls.made("unlink"), std::string_view(step) == "open" ? 0 : 1) << step;
    }
    // A signal costs nothing; a temporary left by an earlier program of this number is not reused.
    testing::ScriptedCalls calls;
    calls.fail("write", {EINTR});
    const auto stale = file + ".tmp." + std::to_string(::getpid()) + ".";
    for (int n = 0; n < 30; ++n) std::ofstream(stale + std::to_string(n)) << "stale";
    const auto mask = ::umask(077);
    EXPECT_FALSE(replaceFile(file, std::string(100'000, 'x'), calls));
    ::umask(mask);
    EXPECT_EQ(folder.read("z.prom"), std::string(100'000, 'x'));
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0644));
    for (int n = 0; n < 30; ++n) fs::remove(stale + std::to_string(n));
    EXPECT_EQ(folder.entries(), "z.prom;");
    // A folder that is not there: the open's own errno.
    const auto missing = replaceFile((folder.path / "no" / "z.prom").string(), "x");
    EXPECT_TRUE(missing && missing->number() == ENOENT);
}

}  // namespace
}  // namespace zorvik

#include "results_text.hpp"

#include <gtest/gtest.h>

namespace zorvik {
namespace {

TEST(ResultsTextTest, append_toNewestVersion_leavesOlderVersionsAsTheyWere) {
    const ResultsText a("one\r\n");
    const ResultsText b = a + "two\r\n";
    const ResultsText c = b + std::string("thr\0e\r\n", 7);
    EXPECT_EQ(a.view(), "one\r\n");
    EXPECT_EQ(b.view(), "one\r\ntwo\r\n");
    EXPECT_EQ(c.view(), std::string("one\r\ntwo\r\nthr\0e\r\n", 17)) << "a zero byte is a character";
    EXPECT_TRUE(c.extends(a));
    EXPECT_TRUE(c.extends(ResultsText()));
    EXPECT_FALSE(a.extends(c));
    EXPECT_EQ(c.suffixAfter(a), std::string("two\r\nthr\0e\r\n", 12));
}

TEST(ResultsTextTest, append_toOlderVersion_branchesWithoutDisturbingNewer_andEqualTextIsNoVersion) {
    const ResultsText a("base");
    const ResultsText newer = a + "-newer";
    const ResultsText branch = a + "-branch";
    EXPECT_EQ(newer.view(), "base-newer");
    EXPECT_EQ(branch.view(), "base-branch");
    EXPECT_FALSE(branch.extends(newer));
    EXPECT_FALSE(newer.extends(branch));
    EXPECT_TRUE(newer.extends(a));
    // Same characters, separate storage: the box must treat it as a new text.
    EXPECT_EQ(ResultsText("base"), a);
    EXPECT_FALSE(ResultsText("base").extends(a));
    EXPECT_FALSE(ResultsText("base-newer").extends(a));
}

}  // namespace
}  // namespace zorvik

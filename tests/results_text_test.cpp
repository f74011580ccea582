#include "results_text.hpp"

#include <gtest/gtest.h>

namespace zorvik {
namespace {

TEST(ResultsTextTest, append_toNewestVersion_leavesOlderVersionsAsTheyWere) {
    ResultsText a("one\r\n");
    ResultsText b = a + "two\r\n";
    ResultsText c = b + "three\r\n";
    EXPECT_EQ(a.view(), "one\r\n");
    EXPECT_EQ(b.view(), "one\r\ntwo\r\n");
    EXPECT_EQ(c.view(), "one\r\ntwo\r\nthree\r\n");
    EXPECT_TRUE(c.extends(a));
    EXPECT_EQ(c.suffixAfter(a), "two\r\nthree\r\n");
}

TEST(ResultsTextTest, append_toOlderVersion_branchesWithoutDisturbingNewer) {
    ResultsText a("base");
    ResultsText newer = a + "-newer";
    ResultsText branch = a + "-branch";
    EXPECT_EQ(newer.view(), "base-newer");
    EXPECT_EQ(branch.view(), "base-branch");
    EXPECT_FALSE(branch.extends(newer));
    EXPECT_FALSE(newer.extends(branch));
    EXPECT_TRUE(newer.extends(a));
}

TEST(ResultsTextTest, extends_equalButSeparateTexts_isFalse) {
    // Same characters, separate storage: the box must treat it as a new text.
    ResultsText a("same");
    ResultsText b("same");
    EXPECT_EQ(a, b);
    EXPECT_FALSE(b.extends(a));
    EXPECT_FALSE(ResultsText("same plus").extends(a));
}

TEST(ResultsTextTest, extends_shorterVersionOfSameBuffer_isFalse) {
    ResultsText a("ab");
    ResultsText b = a + "cd";
    EXPECT_FALSE(a.extends(b));
    EXPECT_TRUE(ResultsText().view().empty());
    EXPECT_TRUE(b.extends(ResultsText()));
}

TEST(ResultsTextTest, zeroBytes_areKeptAsCharacters) {
    const std::string withNul("a\0b", 3);
    ResultsText t = ResultsText() + withNul;
    EXPECT_EQ(t.size(), 3u);
    EXPECT_EQ(t.view(), withNul);
}

}  // namespace
}  // namespace zorvik

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulated.h"
#include "run/path.h"

struct PathCase {
    const char* name;
    std::string path;
    int lastSeparator;  // offset, or -1 for none
    int endsWithBackslash;
    unsigned codePage = 932;
};

class PathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTest, FindsOnlyRealSeparators)
{
    const PathCase& c = GetParam();
    sim::SetAnsiCodePage(c.codePage);
    const char* last = FindLastPathSeparator(c.path.c_str());
    EXPECT_EQ(last == nullptr ? -1 : static_cast<int>(last - c.path.c_str()), c.lastSeparator);
    EXPECT_EQ(EndsWithBackslash(c.path.c_str()), c.endsWithBackslash);
    sim::SetAnsiCodePage(932);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, PathTest,
    ::testing::Values(PathCase{"Empty", "", -1, 0}, PathCase{"NoSeparator", "calendar", -1, 0},
                      PathCase{"TrailingBackslash", "C:\\Cal\\", 6, 1},
                      PathCase{"NoTrailingBackslash", "C:\\Cal", 2, 0},
                      PathCase{"SlashAfterBackslash", "C:\\Cal/sub", 6, 0},
                      PathCase{"TrailingSlashIsNoBackslash", "C:\\Cal/", 6, 0},
                      PathCase{"OnlyBackslash", "\\", 0, 1}, PathCase{"OnlySlash", "/", 0, 0},
                      // 0x95 0x5C is one character whose second byte has the value of a backslash.
                      PathCase{"TrailByteBackslashAtEnd", "C:\\\x95\x5c", 2, 0},
                      PathCase{"TrailByteBackslashInside",
                               "C:\\\x95\x5c"
                               "abc",
                               2, 0},
                      PathCase{"RealBackslashAfterDoubleByte", "C:\\\x95\x5c\\", 5, 1},
                      PathCase{"LoneLeadByteAtEnd", "C:\\\x95", 2, 0},
                      PathCase{"LeadByteThenBackslashAtEnd", "\x95\\", -1, 0},
                      // Code page 1252 has no lead bytes: 0x95 is a character of its own.
                      PathCase{"BackslashAfter0x95InCp1252", "C:\\\x95\x5c", 4, 1, 1252},
                      // In UTF-8 no byte of a sequence is below 0x80: 表 ends in no backslash.
                      PathCase{"MultiByteCharacterInUtf8", "C:\\\xe8\xa1\xa8", 2, 0, 65001},
                      PathCase{"BackslashAfterUtf8Character", "C:\\\xe8\xa1\xa8\\", 6, 1, 65001}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return info.param.name; });

TEST(IsPathSeparatorTest, OnlySingleByteCharacters)
{
    EXPECT_EQ(IsPathSeparator("\\x"), 1);
    EXPECT_EQ(IsPathSeparator("/"), 1);
    EXPECT_EQ(IsPathSeparator("a"), 0);
    EXPECT_EQ(IsPathSeparator("\x95\x5c"), 0);
    EXPECT_EQ(IsPathSeparator(&"\x95\x5c"[1]), 1);  // seen on its own, the byte is a backslash
}

struct WholeKeyPathCase {
    const char* name;
    std::string path;
    int whole;
};

class IsWholeKeyPathTest : public ::testing::TestWithParam<WholeKeyPathCase> {};

TEST_P(IsWholeKeyPathTest, EveryNameBetweenBackslashesIsNonEmpty)
{
    sim::SetAnsiCodePage(932);
    EXPECT_EQ(IsWholeKeyPath(GetParam().path.c_str()), GetParam().whole);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, IsWholeKeyPathTest,
    ::testing::Values(WholeKeyPathCase{"Names", "a\\bc\\d", 1},
                      WholeKeyPathCase{"Doubled", "a\\\\b", 0},
                      WholeKeyPathCase{"Leading", "\\a", 0}, WholeKeyPathCase{"Trailing", "a\\", 0},
                      WholeKeyPathCase{"OnlyABackslash", "\\", 0},
                      WholeKeyPathCase{"TrailByteLast", "a\\\x95\x5c", 1},
                      WholeKeyPathCase{"TrailByteBeforeSeparator", "a\\\x95\x5c\\b", 1},
                      WholeKeyPathCase{"TrailByteThenDoubled", "a\\\x95\x5c\\\\b", 0},
                      WholeKeyPathCase{"SlashIsPartOfAName", "a//b", 1},
                      WholeKeyPathCase{"Empty", "", 0}),
    [](const ::testing::TestParamInfo<WholeKeyPathCase>& info) { return info.param.name; });

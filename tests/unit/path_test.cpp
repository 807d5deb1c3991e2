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

struct CollapseCase {
    const char* name;
    std::string path;
    std::size_t capacity;
    int result;
    std::string collapsed;
};

class CollapseKeyPathTest : public ::testing::TestWithParam<CollapseCase> {};

TEST_P(CollapseKeyPathTest, OneSeparatorBetweenNamesAndNoneAround)
{
    const CollapseCase& c = GetParam();
    std::vector<char> buffer(c.capacity, 'x');  // exactly the capacity: the sanitizer sees overruns
    EXPECT_EQ(CollapseKeyPath(buffer.data(), c.capacity, c.path.c_str()), c.result);
    EXPECT_EQ(std::string(buffer.data()), c.collapsed);
}

INSTANTIATE_TEST_SUITE_P(
    Cp932, CollapseKeyPathTest,
    ::testing::Values(CollapseCase{"Doubled", "a\\\\b", 8, 1, "a\\b"},
                      CollapseCase{"LeadingAndTrailing", "\\\\ab\\c\\\\", 8, 1, "ab\\c"},
                      CollapseCase{"TrailByteKept", "a\\\x95\x5c\\\\b", 8, 1, "a\\\x95\x5c\\b"},
                      CollapseCase{"SlashIsPartOfAName", "a//b", 8, 1, "a//b"},
                      CollapseCase{"FitsExactly", "ab\\\\cd", 6, 1, "ab\\cd"},
                      CollapseCase{"SeparatorOneByteOver", "abcd\\\\e", 6, 0, ""},
                      CollapseCase{"Empty", "", 1, 1, ""}),
    [](const ::testing::TestParamInfo<CollapseCase>& info) { return info.param.name; });

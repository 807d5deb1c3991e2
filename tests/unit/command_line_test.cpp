#include <gtest/gtest.h>

#include <string>

#include "run/command_line.h"
#include "simulated.h"

struct TailCase {
    const char* name;
    std::string commandLine;
    std::string tail;
};

class CommandLineTailTest : public ::testing::TestWithParam<TailCase> {};

// The rows are typed in code page 932; Windows keeps the command line in UTF-16.
TEST_P(CommandLineTailTest, TakesWhatFollowsTheProgramName)
{
    sim::SetAnsiCodePage(932);
    std::u16string line = sim::ToWide(GetParam().commandLine, nullptr);
    EXPECT_EQ(CommandLineTail(line.c_str()), sim::ToWide(GetParam().tail, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CommandLineTailTest,
    ::testing::Values(
        TailCase{"Empty", "", ""}, TailCase{"NameOnly", "C:\\Cal\\FinishSetup.exe", ""},
        TailCase{"PlainName", "C:\\Cal\\FinishSetup.exe -normal", "-normal"},
        TailCase{"QuotedNameWithSpaces", "\"C:\\Program Files\\Cal\\FinishSetup.exe\" -normal",
                 "-normal"},
        TailCase{"ClosingQuoteThenArgument", "\"C:\\Cal\\x.exe\"-normal", "-normal"},
        TailCase{"UnclosedQuoteSwallowsAll", "\"C:\\Cal\\x.exe -normal", ""},
        TailCase{"TabsAndSpacesSkipped", "x.exe \t \t  -normal", "-normal"},
        TailCase{"ControlBytesSkipped", "x.exe\x01\x1f -normal", "-normal"},
        TailCase{"TrailingSpacesKept", "x.exe -normal  ", "-normal  "},
        TailCase{"QuotesAroundArgumentKept", "x.exe \"-normal\"", "\"-normal\""},
        TailCase{"SecondArgumentKept", "x.exe -normal other", "-normal other"},
        TailCase{"HighBytesBelongToPlainName", "C:\\\x95\x5c\\\xe3\x81.exe -normal", "-normal"},
        // 0x81 0x22 is one double-byte character: its second byte is no closing quote.
        TailCase{"TrailByteIsNoQuote", "\"C:\\\x81\"x.exe\" -normal", "-normal"},
        TailCase{"LeadByteLastInQuotedName", "\"C:\\abc\x81", ""}),
    [](const ::testing::TestParamInfo<TailCase>& info) { return info.param.name; });

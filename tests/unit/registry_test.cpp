#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry/install_path.h"
#include "registry/uninstall.h"
#include "run/setup_names.h"
#include "support.h"

using sim::RegistryValue;

const char kProductKey[] = "SOFTWARE\\Firm\\App";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App";
const Dword kRegBinary = 3, kRegDword = 4;

class RegistryTest : public SimulatedTest {
protected:
    void SetUp() override
    {
        SimulatedTest::SetUp();
        ClearSetupNames();
        std::strcpy(AppName, "App");
        std::strcpy(CompanyName, "Firm");
        ComposeSetupNames();
    }
    void ExpectNothingLeftOpen()
    {
        EXPECT_EQ(sim::OpenKeyCount(), 0);
        EXPECT_EQ(sim::LiveAllocationCount(), 0);
    }
    void SetValues(const char* key, const std::vector<RegistryValue>& values)
    {
        for (const RegistryValue& v : values) sim::SetRegistryValue(key, v.name, v.type, v.data);
    }
};

struct LookupCase {
    const char* name;
    std::vector<RegistryValue> values;  // under the product key; none: no key at all
    std::size_t capacity;
    int result;
    std::string path;                      // on 0: the destination's untouched content
    std::u16string wideInstallPath = u"";  // an InstallPath written in UTF-16, before values
    unsigned codePage = 932;
    bool overReport = false;  // as Japanese Windows 10 after a name overflow
    Dword wideType = kRegSz;
    std::u16string wideName = u"InstallPath";
};

class QueryInstallPathTest : public RegistryTest,
                             public ::testing::WithParamInterface<LookupCase> {};

TEST_P(QueryInstallPathTest, FindsTheValueByEnumeration)
{
    const LookupCase& c = GetParam();
    sim::SetAnsiCodePage(c.codePage);
    if (!c.wideInstallPath.empty())
        sim::SetRegistryValueW(kProductKey, c.wideName, c.wideType, c.wideInstallPath);
    SetValues(kProductKey, c.values);
    sim::OverReportAfterNameOverflow(c.overReport);
    std::vector<char> destination(c.capacity, 0);
    std::strcpy(destination.data(), "old");
    EXPECT_EQ(QueryInstallPath(destination.data(), c.capacity), c.result);
    EXPECT_EQ(std::string(destination.data()), c.result ? c.path : "old");
    ExpectNothingLeftOpen();
}

const std::string kBig(5000, 'b');
const std::string kLongName(3000, 'n');
const std::string k255 = "C:\\" + std::string(252, 'p');

INSTANTIATE_TEST_SUITE_P(
    Values, QueryInstallPathTest,
    ::testing::Values(
        LookupCase{
            "Plain", {{"InstallPath", kRegSz, std::string("C:\\Cal\0", 7)}}, 256, 1, "C:\\Cal"},
        LookupCase{"TrailingBackslashKept",
                   {{"InstallPath", kRegSz, std::string("C:\\Cal\\\0", 8)}},
                   256,
                   1,
                   "C:\\Cal\\"},
        LookupCase{
            "CapitalName", {{"INSTALLPATH", kRegSz, std::string("C:\\A\0", 5)}}, 256, 1, "C:\\A"},
        LookupCase{
            "SmallName", {{"installpath", kRegSz, std::string("C:\\A\0", 5)}}, 256, 1, "C:\\A"},
        // Only a folder counts: an empty or relative path would make links to nothing and an
        // uninstall command that starts nothing.
        LookupCase{"EmptyString", {{"InstallPath", kRegSz, std::string("\0", 1)}}, 256, 0, ""},
        LookupCase{"NoDataAtAll", {{"InstallPath", kRegSz, ""}}, 256, 0, ""},
        LookupCase{"Relative", {{"InstallPath", kRegSz, "Cal"}}, 256, 0, ""},
        LookupCase{"RootRelative", {{"InstallPath", kRegSz, "\\C\\Cal"}}, 256, 0, ""},
        LookupCase{"NoColon", {{"InstallPath", kRegSz, "C\\Cal"}}, 256, 0, ""},
        LookupCase{"DriveRelative", {{"InstallPath", kRegSz, "C:Cal"}}, 256, 0, ""},
        LookupCase{"SlashAfterDrive", {{"InstallPath", kRegSz, "C:/Cal"}}, 256, 0, ""},
        LookupCase{"DigitForDrive", {{"InstallPath", kRegSz, "1:\\Cal"}}, 256, 0, ""},
        LookupCase{"FullWidthDrive", {{"InstallPath", kRegSz, "\x82\x62:\\Cal"}}, 256, 0, ""},
        LookupCase{"FirstDrive", {{"InstallPath", kRegSz, "A:\\"}}, 256, 1, "A:\\"},
        LookupCase{"LastDrive", {{"InstallPath", kRegSz, "Z:\\"}}, 256, 1, "Z:\\"},
        LookupCase{"FirstSmallDrive", {{"InstallPath", kRegSz, "a:\\"}}, 256, 1, "a:\\"},
        LookupCase{"LastSmallDrive", {{"InstallPath", kRegSz, "z:\\"}}, 256, 1, "z:\\"},
        LookupCase{"Unc", {{"InstallPath", kRegSz, "\\\\srv\\Cal"}}, 256, 1, "\\\\srv\\Cal"},
        LookupCase{"PercentInPlainString", {{"InstallPath", kRegSz, "%P%\\Cal"}}, 256, 0, ""},
        LookupCase{"ExpandableRelative", {{"InstallPath", kRegExpandSz, "Cal\\%P%"}}, 256, 0, ""},
        LookupCase{
            "ExpandableAbsolute", {{"InstallPath", kRegExpandSz, "C:\\%P%"}}, 256, 1, "C:\\%P%"},
        LookupCase{"ExpandableKeptUnexpanded",
                   {{"InstallPath", kRegExpandSz, std::string("%ProgramFiles%\\Cal\0", 19)}},
                   256,
                   1,
                   "%ProgramFiles%\\Cal"},
        LookupCase{"UpToTheFirstZero",
                   {{"InstallPath", kRegSz, std::string("C:\\A\0junk\0", 10)}},
                   256,
                   1,
                   "C:\\A"},
        LookupCase{"NoZeroWithinData", {{"InstallPath", kRegBinary, "C:\\Cal"}}, 256, 1, "C:\\Cal"},
        LookupCase{"NoZeroInFullBuffer",
                   {{"InstallPath", kRegBinary, "C:\\" + std::string(1021, 'x')}},
                   2048,
                   1,
                   "C:\\" + std::string(1021, 'x')},
        // Other types count by their text: a number is no folder.
        LookupCase{"AnyType", {{"InstallPath", kRegDword, std::string("AB\0\0", 4)}}, 256, 0, ""},
        LookupCase{"AnyTypeByItsText",
                   {{"InstallPath", kRegDword, std::string("C:\\\0", 4)}},
                   256,
                   1,
                   "C:\\"},
        LookupCase{"BigValueBefore",
                   {{"Big", kRegBinary, kBig}, {"InstallPath", kRegSz, std::string("C:\\A\0", 5)}},
                   256,
                   1,
                   "C:\\A"},
        LookupCase{"LongNameBefore",
                   {{kLongName, kRegSz, "x"}, {"InstallPath", kRegSz, std::string("C:\\A\0", 5)}},
                   256,
                   1,
                   "C:\\A"},
        LookupCase{
            "LongNameAndBigDataBefore",
            {{kLongName, kRegBinary, kBig}, {"InstallPath", kRegSz, std::string("C:\\A\0", 5)}},
            256,
            1,
            "C:\\A"},
        LookupCase{"LongNameBeforeOverReported",
                   {{kLongName, kRegSz, "x"}, {"InstallPath", kRegSz, std::string("C:\\A\0", 5)}},
                   256,
                   1,
                   "C:\\A",
                   u"",
                   932,
                   true},
        // A character the code page lacks: the ANSI call hands over a look-alike or '?'.
        LookupCase{"LookAlikeIsNotFound", {}, 256, 0, "", u"C:\\Caf\u00e9\0"},
        LookupCase{"QuestionMarkIsNotFound", {}, 256, 0, "", u"C:\\\u0132\0"},
        LookupCase{"LookAlikeExpandableIsNotFound",
                   {},
                   256,
                   0,
                   "",
                   u"%X%\\Caf\u00e9\0",
                   932,
                   false,
                   kRegExpandSz},
        LookupCase{"LookAlikeMultiStringIsNotFound",
                   {},
                   256,
                   0,
                   "",
                   u"C:\\Caf\u00e9\0\0",
                   932,
                   false,
                   kRegMultiSz},
        LookupCase{"ExactInCp1252", {}, 256, 1, "C:\\Caf\xe9", u"C:\\Caf\u00e9\0", 1252},
        // Full-width letters, which code page 1252 hands over as the ASCII look-alike.
        LookupCase{"LookAlikeNameBeforeTheValue",
                   {{"InstallPath", kRegSz, std::string("C:\\Cal\0", 7)}},
                   256,
                   1,
                   "C:\\Cal",
                   u"C:\\Other\0",
                   1252,
                   false,
                   kRegSz,
                   u"\uff29\uff4e\uff53\uff54\uff41\uff4c\uff4c\uff30\uff41\uff54\uff48"},
        LookupCase{"ExactInUtf8", {}, 256, 1, "C:\\Caf\xc3\xa9", u"C:\\Caf\u00e9\0", 65001},
        LookupCase{"JapaneseInCp1252IsNotFound", {}, 256, 0, "", u"C:\\\u4e88\u5b9a\0", 1252},
        LookupCase{"ExactInCp932", {}, 256, 1, "C:\\\x97\x5c\x92\xe8", u"C:\\\u4e88\u5b9a\0"},
        LookupCase{"BinaryIsNotConverted",
                   {{"InstallPath", kRegBinary, "C:\\Caf\xe9"}},
                   256,
                   1,
                   "C:\\Caf\xe9"},
        LookupCase{
            "QuoteIsNotFound", {{"InstallPath", kRegSz, std::string("C:\\A\"B\0", 7)}}, 256, 0, ""},
        LookupCase{"FirstMatchWins",
                   {{"InstallPath", kRegSz, std::string("C:\\A\0", 5)}, {"Other", kRegSz, "C:\\B"}},
                   256,
                   1,
                   "C:\\A"},
        LookupCase{"FitsExactly", {{"InstallPath", kRegSz, k255 + '\0'}}, 256, 1, k255},
        LookupCase{"TooLongIsNotFound", {{"InstallPath", kRegSz, k255 + "p" + '\0'}}, 256, 0, ""},
        LookupCase{
            "LongerNameOnly", {{"InstallPathX", kRegSz, std::string("C:\\A\0", 5)}}, 256, 0, ""},
        LookupCase{
            "ShorterNameOnly", {{"InstallPat", kRegSz, std::string("C:\\A\0", 5)}}, 256, 0, ""},
        LookupCase{"NoKey", {}, 256, 0, ""}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST_F(RegistryTest, UnavailableKeyPathFindsNothing)
{
    sim::SetRegistryValue(kProductKey, "InstallPath", kRegSz, "C:\\A");
    ProductKeyPath[0] = 0;
    char destination[256] = "old";
    EXPECT_EQ(QueryInstallPath(destination, sizeof destination), 0);
    EXPECT_TRUE(sim::CallLog().empty());
}

TEST_F(RegistryTest, RetriesOfOneIndexAreBounded)
{
    sim::SetRegistryValue(kProductKey, "InstallPath", kRegSz, "C:\\A");
    sim::ReportMoreDataAlways(true);
    char destination[256] = "old";
    EXPECT_EQ(QueryInstallPath(destination, sizeof destination), 0);
    EXPECT_EQ(CountCalls("RegEnumValueA"), 9);
    ExpectNothingLeftOpen();
}

// Whichever operation fails, the lookup ends cleanly, and a result of 1 means the whole path.
TEST_F(RegistryTest, LookupSurvivesEachFailingOperation)
{
    for (int failing = 1;; ++failing) {
        sim::Reset();
        SetValues(kProductKey, {{"Big", kRegBinary, kBig}, {"InstallPath", kRegSz, "C:\\A"}});
        sim::FailCall(failing);
        char destination[256] = "old";
        int result = QueryInstallPath(destination, sizeof destination);
        EXPECT_STREQ(destination, result ? "C:\\A" : "old") << "failing call " << failing;
        ExpectNothingLeftOpen();
        if (sim::FallibleCallCount() < failing) break;
        EXPECT_EQ(result, 0) << "failing call " << failing;
    }
}

struct UninstallCase {
    const char* name;
    std::string installPath;
    std::vector<RegistryValue> before;  // none: no uninstall entry
    int result;
    std::vector<RegistryValue> after;
    std::u16string lookAlike = u"";  // a value named in UTF-16, written first, under code page 1252
};

class UpdateUninstallStringTest : public RegistryTest,
                                  public ::testing::WithParamInterface<UninstallCase> {};

TEST_P(UpdateUninstallStringTest, RewritesOnlyTheExistingValue)
{
    const UninstallCase& c = GetParam();
    if (!c.lookAlike.empty()) {
        sim::SetAnsiCodePage(1252);
        sim::SetRegistryValueW(kUninstallKey, c.lookAlike, kRegSz, u"C:\\old.exe -x");
    }
    SetValues(kUninstallKey, c.before);
    char path[kMaxPath];
    std::strcpy(path, c.installPath.c_str());
    EXPECT_EQ(UpdateUninstallString(path, sizeof path), c.result);
    EXPECT_TRUE(sim::RegistryValues(kUninstallKey) == c.after);
    EXPECT_EQ(sim::RegistryKeyExists(kUninstallKey), !c.after.empty());
    ExpectNothingLeftOpen();
}

const RegistryValue kOldCommand = {"UninstallString", kRegSz, "C:\\old.exe -x"};
const RegistryValue kDisplayName = {"DisplayName", kRegSz, "App"};

const std::u16string kFullWidth =
    u"\uff35\uff4e\uff49\uff4e\uff53\uff54\uff41\uff4c\uff4c\uff33\uff54\uff52\uff49\uff4e\uff47";

// The command as written: quoted, with its zero.
RegistryValue Command(const std::string& text, const std::string& name = "UninstallString")
{
    return {name, kRegSz, '"' + text + '"' + '\0'};
}

INSTANTIATE_TEST_SUITE_P(
    Entries, UpdateUninstallStringTest,
    ::testing::Values(
        UninstallCase{"BackslashInserted",
                      "C:\\Cal",
                      {kDisplayName, kOldCommand},
                      1,
                      {kDisplayName, Command("C:\\Cal\\Uninstall.exe")}},
        UninstallCase{"TrailingBackslashKept",
                      "C:\\Cal\\",
                      {kOldCommand},
                      1,
                      {Command("C:\\Cal\\Uninstall.exe")}},
        UninstallCase{"SlashIsNoBackslash",
                      "C:\\Cal/",
                      {kOldCommand},
                      1,
                      {Command("C:\\Cal/\\Uninstall.exe")}},
        UninstallCase{"DoubleByteTrailByte",
                      "C:\\\x95\x5c",
                      {kOldCommand},
                      1,
                      {Command("C:\\\x95\x5c\\Uninstall.exe")}},
        UninstallCase{"NameCaseKeptTypeReplaced",
                      "C:\\Cal",
                      {{"uninstallstring", kRegExpandSz, "%x%"}},
                      1,
                      {Command("C:\\Cal\\Uninstall.exe", "uninstallstring")}},
        UninstallCase{"NoValueLeftAlone", "C:\\Cal", {kDisplayName}, 0, {kDisplayName}},
        // Full-width letters, which code page 1252 hands over as "UninstallString": not that
        // value, and no second one is made beside it.
        UninstallCase{"LookAlikeNameIsNotTheValue", "C:\\Cal", {}, 0, {kOldCommand}, kFullWidth},
        UninstallCase{"LookAlikeBeforeTheValue",
                      "C:\\Cal",
                      {kOldCommand},
                      1,
                      {kOldCommand, Command("C:\\Cal\\Uninstall.exe")},
                      kFullWidth},
        UninstallCase{"NoEntryNotCreated", "C:\\Cal", {}, 0, {}},
        UninstallCase{"FitsExactly",
                      std::string(243, 'p'),
                      {kOldCommand},
                      1,
                      {Command(std::string(243, 'p') + "\\Uninstall.exe")}},
        UninstallCase{"QuotesDoNotFit", std::string(244, 'p'), {kOldCommand}, 0, {kOldCommand}},
        UninstallCase{"FitsOnlyUnquoted", std::string(245, 'p'), {kOldCommand}, 0, {kOldCommand}},
        UninstallCase{
            "FileNameDoesNotFit", std::string(247, 'p'), {kOldCommand}, 0, {kOldCommand}}),
    [](const ::testing::TestParamInfo<UninstallCase>& info) { return info.param.name; });

TEST_F(RegistryTest, EntryWithoutWriteAccessIsLeftAlone)
{
    sim::SetRegistryValue(kUninstallKey, kOldCommand.name, kOldCommand.type, kOldCommand.data);
    sim::DenyWriteAccess(kUninstallKey);
    char path[kMaxPath] = "C:\\Cal";
    EXPECT_EQ(UpdateUninstallString(path, sizeof path), 0);
    EXPECT_TRUE(sim::RegistryValues(kUninstallKey) == std::vector<RegistryValue>{kOldCommand});
    ExpectNothingLeftOpen();
}

TEST_F(RegistryTest, UnavailableEntryPathWritesNothing)
{
    sim::SetRegistryValue(kUninstallKey, kOldCommand.name, kOldCommand.type, kOldCommand.data);
    UninstallKeyPath[0] = 0;
    char path[kMaxPath] = "C:\\Cal";
    EXPECT_EQ(UpdateUninstallString(path, sizeof path), 0);
    EXPECT_TRUE(sim::CallLog().empty());
}

// The composed path's doubled backslash is an empty key name to Windows, and the open fails;
// the program opens the key by the collapsed path.
TEST_F(RegistryTest, KeyPathReachesTheRegistryCollapsed)
{
    sim::SetRegistryValue(kUninstallKey, kOldCommand.name, kOldCommand.type, kOldCommand.data);
    KeyHandle key = 1;
    EXPECT_EQ(os::RegOpenKeyExA(kLocalMachine, UninstallKeyPath, 0, kKeyRead, &key), 2);
    EXPECT_EQ(key, 0u);
    char path[kMaxPath] = "C:\\Cal";
    EXPECT_EQ(UpdateUninstallString(path, sizeof path), 1);
    EXPECT_EQ(
        CountCalls("RegOpenKeyExA(SOFTWARE\\Microsoft\\windows\\CurrentVersion\\Uninstall\\App)"),
        1);
}

struct KeyPathCase {
    const char* name;
    std::string company, app;
    std::string productKey, entryKey;  // where an installation put its keys
    int found = 1, updated = 1;
};

class KeyPathTest : public RegistryTest, public ::testing::WithParamInterface<KeyPathCase> {};

TEST_P(KeyPathTest, OpensNoEmptyComponentAndCutsNoCharacter)
{
    const KeyPathCase& c = GetParam();
    ClearSetupNames();
    std::strcpy(AppName, c.app.c_str());
    std::strcpy(CompanyName, c.company.c_str());
    ComposeSetupNames();
    sim::SetRegistryValue(c.productKey, "InstallPath", kRegSz, "C:\\Cal");
    sim::SetRegistryValue(c.entryKey, kOldCommand.name, kOldCommand.type, kOldCommand.data);
    char path[kMaxPath] = "C:\\Cal";
    EXPECT_EQ(QueryInstallPath(path, sizeof path), c.found);
    EXPECT_EQ(UpdateUninstallString(path, sizeof path), c.updated);
    EXPECT_EQ(sim::RegistryValues(c.entryKey).at(0).data,
              c.updated ? "\"C:\\Cal\\Uninstall.exe\"" + std::string(1, '\0') : kOldCommand.data);
    ExpectNothingLeftOpen();
}

const std::string kEntries = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// 表 is 0x95 0x5C: its second byte is no separator, so it neither merges with the backslash
// after it nor is dropped at the end. A name that is empty, or leaves a name of the key path
// empty, is never collapsed into another key: "SOFTWARE\\App" is not another vendor's
// SOFTWARE\App, nor "...\Uninstall\\" the entries' key itself.
INSTANTIATE_TEST_SUITE_P(
    Names, KeyPathTest,
    ::testing::Values(KeyPathCase{"EmptyCompany", "", "App", "SOFTWARE\\App", kEntries + "App", 0},
                      KeyPathCase{"CompanyOfABackslash", "\\", "App", "SOFTWARE\\App",
                                  kEntries + "App", 0},
                      KeyPathCase{"EmptyApp", "Firm", "", "SOFTWARE\\Firm",
                                  kEntries.substr(0, kEntries.size() - 1), 0, 0},
                      KeyPathCase{"SeparatorsAroundNames", "\\Firm\\", "App\\",
                                  "SOFTWARE\\Firm\\App", kEntries + "App", 0, 0},
                      KeyPathCase{"CompanyEndsInTrailByte", "\x95\x5c", "App",
                                  "SOFTWARE\\\x95\x5c\\App", kEntries + "App"},
                      KeyPathCase{"AppEndsInTrailByte", "Firm", "\x95\x5c",
                                  "SOFTWARE\\Firm\\\x95\x5c", kEntries + "\x95\x5c"}),
    [](const ::testing::TestParamInfo<KeyPathCase>& info) { return info.param.name; });

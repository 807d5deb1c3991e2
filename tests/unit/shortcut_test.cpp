#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "run/setup_names.h"
#include "shortcut/place_shortcut.h"
#include "support.h"

const char kProductKey[] = "SOFTWARE\\Firm\\App";

// The warnings in UTF-8, spelled independently of the program's tables.
const std::string kInstallPathWarning =
    "インストールパスが見つかりませんでした。\nカレンダーが正しくインストールされているか確認してく"
    "ださい";
const std::string kShortcutWarning = "ショートカットの作成に失敗しました";

class ShortcutTest : public SimulatedTest {
protected:
    void SetUp() override
    {
        SimulatedTest::SetUp();
        UseNames("App");
        sim::SetRegistryValue(kProductKey, "InstallPath", kRegSz, "C:\\Cal");
        sim::SetSpecialFolder(kCsidlStartup, directory + "/Startup");
        sim::SetSpecialFolder(kCsidlDesktopDirectory, directory + "/Desktop");
    }
    void UseNames(const std::string& app)
    {
        ClearSetupNames();
        std::strcpy(AppName, app.c_str());
        std::strcpy(CompanyName, "Firm");
        ComposeSetupNames();
    }
    std::string StartupLink(const std::string& app = "App") const
    {
        return sim::ReadSavedLink(directory + "/Startup/" + app + ".lnk");
    }
    // Texts and caption in UTF-8.
    void ExpectWarnings(const std::vector<std::string>& texts, const std::string& caption = "App")
    {
        ASSERT_EQ(sim::MessageBoxes().size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(sim::ToUtf8(sim::MessageBoxes()[i].text), texts[i]);
            EXPECT_EQ(sim::ToUtf8(sim::MessageBoxes()[i].caption), caption);
            EXPECT_EQ(sim::MessageBoxes()[i].style, 0x30u);
        }
    }
    void ExpectNothingLeftOpen()
    {
        EXPECT_EQ(sim::LiveComReferences(), 0);
        EXPECT_EQ(sim::OpenKeyCount(), 0);
        EXPECT_EQ(sim::LiveAllocationCount(), 0);
    }
};

std::string Link(const std::string& target, const std::string& workdir)
{
    return "target=" + target + "\nworkdir=" + workdir + "\ndescription=App\n";
}

struct TargetCase {
    const char* name;
    std::string installPath;
    int result;
    std::string link;  // the saved link's content, or empty for none
    const std::string* warning = &kShortcutWarning;
};

class TargetTest : public ShortcutTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTest, PointsAtCalendarExeInTheInstallFolder)
{
    sim::SetRegistryValue(kProductKey, "InstallPath", kRegSz, GetParam().installPath);
    EXPECT_EQ(PlaceShortcut(kStartupFolder), GetParam().result);
    EXPECT_EQ(StartupLink(), GetParam().link);
    ExpectWarnings(GetParam().result == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{*GetParam().warning});
    ExpectNothingLeftOpen();
}

const std::string k242 = "C:\\" + std::string(239, 'p');

INSTANTIATE_TEST_SUITE_P(
    InstallPaths, TargetTest,
    ::testing::Values(
        TargetCase{"NoTrailingBackslash", "C:\\Cal", 0, Link("C:\\Cal\\calendar.exe", "C:\\Cal")},
        TargetCase{"TrailingBackslash", "C:\\Cal\\", 0, Link("C:\\Cal\\calendar.exe", "C:\\Cal\\")},
        TargetCase{"Empty", "", -1, "", &kInstallPathWarning},
        TargetCase{"TrailByte5C", "C:\\\x95\x5c", 0,
                   Link("C:\\\x95\x5c\\calendar.exe", "C:\\\x95\x5c")},
        TargetCase{"TargetFitsExactly", k242, 0, Link(k242 + "\\calendar.exe", k242)},
        TargetCase{"TargetTooLong", k242 + "p", -1, ""}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return info.param.name; });

TEST_F(ShortcutTest, CallsTheShellLinkObjectInOrder)
{
    ASSERT_EQ(PlaceShortcut(kStartupFolder), 0);
    std::vector<std::string> shellCalls;
    for (const std::string& entry : sim::CallLog())
        if (entry.rfind("Reg", 0) != 0 && entry.rfind("Allocate", 0) != 0 &&
            entry.rfind("MultiByteToWideChar", 0) != 0 && entry.rfind("GetProcessWindow", 0) != 0)
            shellCalls.push_back(entry);
    std::vector<std::string> expected = {"SHGetSpecialFolderPathW(7)",
                                         "GetFileAttributesW",
                                         "CoCreateShellLink",
                                         "QueryPersistFile",
                                         "SetPath(C:\\Cal\\calendar.exe)",
                                         "SetDescription(App)",
                                         "SetWorkingDirectory(C:\\Cal)",
                                         "Save(" + directory + "/Startup/App.lnk)",
                                         "Release(IPersistFile)",
                                         "Release(IShellLinkA)"};
    EXPECT_EQ(shellCalls, expected);
    EXPECT_EQ(CountCalls("RegOpenKeyExA(SOFTWARE\\Firm\\App)"), 2);  // target, working directory
}

struct FailureCase {
    const char* name;
    std::string failingCall;
    int occurrence;
    int result;
    std::string link;
    int saves;  // Save calls made: none where the link path or the object was missing
};

class ShellFailureTest : public ShortcutTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ShellFailureTest, OnlyTheSaveDecides)
{
    sim::FailCallNamed(GetParam().failingCall, GetParam().occurrence);
    EXPECT_EQ(PlaceShortcut(kStartupFolder), GetParam().result);
    EXPECT_EQ(StartupLink(), GetParam().link);
    EXPECT_EQ(CountCalls("Save("), GetParam().saves);
    ExpectWarnings(GetParam().result == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{kShortcutWarning});
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ShellFailureTest,
    ::testing::Values(
        FailureCase{"FolderUnknown", "SHGetSpecialFolderPathW", 1, -1, "", 0},
        FailureCase{"Create", "CoCreateShellLink", 1, -1, "", 0},
        FailureCase{"Query", "QueryPersistFile", 1, -1, "", 0},
        FailureCase{"SetPath", "SetPath", 1, 0, "target=\nworkdir=C:\\Cal\ndescription=App\n", 1},
        FailureCase{"SetDescription", "SetDescription", 1, 0,
                    "target=C:\\Cal\\calendar.exe\nworkdir=C:\\Cal\ndescription=\n", 1},
        FailureCase{"SetWorkingDirectory", "SetWorkingDirectory", 1, 0,
                    Link("C:\\Cal\\calendar.exe", "(unset)"), 1},
        FailureCase{"SecondInstallPathRead", "RegEnumValueA", 2, 0,
                    Link("C:\\Cal\\calendar.exe", "(unset)"), 1},
        FailureCase{"Conversion", "MultiByteToWideChar(\\App.lnk)", 1, -1, "", 0},
        FailureCase{"Save", "Save", 1, -1, "", 1}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(ShortcutTest, SuccessCodeOtherThanZeroIsAFailure)
{
    sim::SetSaveSuccessResult(1);  // S_FALSE
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kShortcutWarning});
}

TEST_F(ShortcutTest, FolderThatCannotBeWrittenFailsTheSave)
{
    sim::SetSpecialFolder(kCsidlStartup, directory + "/missing/Startup");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kShortcutWarning});
    ExpectNothingLeftOpen();
}

TEST_F(ShortcutTest, MissingInstallPathStillCreatesTheFolder)
{
    UseNames("Other");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kInstallPathWarning}, "Other");
    EXPECT_TRUE(std::filesystem::is_directory(directory + "/Startup"));
    EXPECT_TRUE(std::filesystem::is_empty(directory + "/Startup"));
    EXPECT_EQ(CountCalls("CoCreateShellLink"), 0);
}

TEST_F(ShortcutTest, InstallPathWarningComesBeforeAnUnknownFolder)
{
    UseNames("Other");
    sim::FailCallNamed("SHGetSpecialFolderPathW");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kInstallPathWarning}, "Other");
}

TEST_F(ShortcutTest, CaptionThatCannotBeConvertedIsEmpty)
{
    UseNames("Other");
    sim::FailCallNamed("MultiByteToWideChar(Other)");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kInstallPathWarning}, "");
}

TEST_F(ShortcutTest, DesktopFolderForAnyOtherValue)
{
    EXPECT_EQ(PlaceShortcut(kDesktopFolder), 0);
    EXPECT_EQ(PlaceShortcut(5), 0);
    EXPECT_EQ(CountCalls("SHGetSpecialFolderPathW(16)"), 2);
    EXPECT_EQ(sim::ReadSavedLink(directory + "/Desktop/App.lnk"),
              Link("C:\\Cal\\calendar.exe", "C:\\Cal"));
}

TEST_F(ShortcutTest, LinkPathThatDoesNotFitIsNotWritten)
{
    std::string folder = directory + "/" + std::string(252 - directory.size(), 'f');
    sim::SetSpecialFolder(kCsidlStartup, folder);  // 252 bytes, with "\App.lnk" 260
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kShortcutWarning});
    EXPECT_EQ(CountCalls("CoCreateShellLink"), 0);
    sim::SetSpecialFolder(kCsidlStartup, folder.substr(0, 251));
    EXPECT_EQ(PlaceShortcut(kStartupFolder), 0);
}

TEST_F(ShortcutTest, UnavailableShortcutNameIsNotWritten)
{
    ShortcutFileName[0] = 0;
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kShortcutWarning});
    EXPECT_EQ(CountCalls("Save("), 0);
    EXPECT_TRUE(std::filesystem::is_empty(directory + "/Startup"));
}

// 予定表: each character's second byte is 0x5C; the name is saved in its UTF-16 form.
TEST_F(ShortcutTest, JapaneseNameIsConvertedWithTheCodePage)
{
    const std::string name = "\x97\x5c\x92\xe8\x95\x5c";
    UseNames(name);
    sim::SetRegistryValue("SOFTWARE\\Firm\\" + name, "InstallPath", kRegSz, "C:\\Cal");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), 0);
    EXPECT_EQ(sim::ReadSavedLink(directory + "/Startup/\xe4\xba\x88\xe5\xae\x9a\xe8\xa1\xa8.lnk"),
              "target=C:\\Cal\\calendar.exe\nworkdir=C:\\Cal\ndescription=" + name + "\n");
}

// The link's folder as the shell names it and the name from the settings' code page, composed
// in UTF-16; the caption is the name converted from the code page.
struct CodePageCase {
    const char* name;
    unsigned codePage;
    std::string userFolder;  // below the scratch directory, UTF-8
    std::string app;         // in the code page
    bool installed;
    std::string linkFile;  // UTF-8, below the folder's Startup; empty: the warning, no link
    std::string caption;   // UTF-8
};

class CodePageTest : public ShortcutTest, public ::testing::WithParamInterface<CodePageCase> {};

TEST_P(CodePageTest, ComposesTheLinkAndCaptionInUtf16)
{
    const CodePageCase& c = GetParam();
    sim::SetAnsiCodePage(c.codePage);
    UseNames(c.app);
    if (c.installed)
        sim::SetRegistryValue("SOFTWARE\\Firm\\" + c.app, "InstallPath", kRegSz, "C:\\Cal");
    std::string startup = directory + "/" + c.userFolder + "/Startup";
    std::filesystem::create_directories(directory + "/" + c.userFolder);
    sim::SetSpecialFolder(kCsidlStartup, startup);
    EXPECT_EQ(PlaceShortcut(kStartupFolder), c.linkFile.empty() ? -1 : 0);
    if (!c.linkFile.empty()) {
        EXPECT_EQ(sim::ReadSavedLink(startup + "/" + c.linkFile),
                  "target=C:\\Cal\\calendar.exe\nworkdir=C:\\Cal\ndescription=" + c.app + "\n");
    }
    ExpectWarnings(c.linkFile.empty() ? std::vector<std::string>{kInstallPathWarning}
                                      : std::vector<std::string>{},
                   c.caption);
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, CodePageTest,
    ::testing::Values(
        CodePageCase{"UserOutsideCp932", 932, "Zo\u00eb", "App", true, "App.lnk", ""},
        CodePageCase{"JapaneseUserAndName", 932, "\u592a\u90ce", "\x97\x5c\x92\xe8", true,
                     "\u4e88\u5b9a.lnk", ""},
        CodePageCase{"NameInCp1252", 1252, "Zo\u00eb", "Caf\xe9", true, "Caf\u00e9.lnk", ""},
        CodePageCase{"NameInUtf8", 65001, "Zo\u00eb", "Caf\xc3\xa9", true, "Caf\u00e9.lnk", ""},
        CodePageCase{"CaptionInCp932", 932, "u", "\x97\x5c\x92\xe8", false, "", "\u4e88\u5b9a"},
        CodePageCase{"CaptionInCp1252", 1252, "u", "Caf\xe9", false, "", "Caf\u00e9"},
        CodePageCase{"CaptionInUtf8", 65001, "u", "Caf\xc3\xa9", false, "", "Caf\u00e9"}),
    [](const ::testing::TestParamInfo<CodePageCase>& info) { return info.param.name; });

// The application's name is the link's file name only when it is one plain file name: Windows
// opens a device for "NUL.lnk", writes "Cal: Pro.lnk" as a stream of a file "Cal", and
// "..\..\Cal" leaves the folder. A refused name: the shortcut warning, and no file anywhere.
struct LinkNameCase {
    const char* name;
    std::string app;       // in the code page
    std::string linkFile;  // UTF-8, in the Startup folder; empty: refused
    unsigned codePage = 932;
    const std::string* warning = &kShortcutWarning;
    // A file of the user's in Startup before, and its 8.3 alias: replaced only when its long
    // name is the link's name; under an alias ("CALEND~1.lnk") it stays as it was.
    std::string existing = "", shortName = "";
    const char* failing = nullptr;  // the call that fails
};

class LinkNameTest : public ShortcutTest, public ::testing::WithParamInterface<LinkNameCase> {};

TEST_P(LinkNameTest, WritesOnlyAPlainFileName)
{
    const LinkNameCase& c = GetParam();
    sim::SetAnsiCodePage(c.codePage);
    std::filesystem::create_directories(directory + "/a/b");  // "..\.." stays in the scratch
    sim::SetSpecialFolder(kCsidlStartup, directory + "/a/b/Startup");
    UseNames(c.app);
    sim::SetRegistryValue("SOFTWARE\\Firm\\" + c.app, "InstallPath", kRegSz, "C:\\Cal");
    std::string existing = directory + "/a/b/Startup/" + c.existing;
    std::filesystem::create_directories(directory + "/a/b/Startup");
    if (!c.existing.empty()) WriteFile(existing, "the user's");
    if (!c.shortName.empty()) sim::SetShortName(existing, c.shortName);
    if (c.failing != nullptr) sim::FailCallNamed(c.failing);
    bool refused = c.linkFile.empty();
    EXPECT_EQ(PlaceShortcut(kStartupFolder), refused ? -1 : 0);
    std::vector<std::string> files, expected;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (!entry.is_directory()) files.push_back(entry.path().string().substr(directory.size()));
    if (!refused) expected.push_back("/a/b/Startup/" + c.linkFile);
    if (!c.existing.empty() && c.existing != c.linkFile)
        expected.push_back("/a/b/Startup/" + c.existing);
    EXPECT_EQ(files, expected);
    EXPECT_EQ(sim::ReadSavedLink(existing) == "the user's", refused && !c.existing.empty());
    ExpectWarnings(refused ? std::vector<std::string>{*c.warning} : std::vector<std::string>{},
                   sim::ToUtf8(sim::ToWide(c.app, nullptr)));
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Names, LinkNameTest,
    ::testing::Values(
        LinkNameCase{"Plain", "App", "App.lnk"},
        LinkNameCase{"Empty", "", "", 932, &kInstallPathWarning},
        LinkNameCase{"TwoDotsAlone", "..", "...lnk"},
        LinkNameCase{"TrailByte5C", "\x95\x5c", "\u8868.lnk"},
        LinkNameCase{"TrailByte7C", "\x83\x7c", "\u30dd.lnk"}, LinkNameCase{"Device", "NUL", ""},
        LinkNameCase{"DeviceSmallLetters", "nul", ""},
        LinkNameCase{"DeviceWithExtension", "aux.Cal", ""},
        LinkNameCase{"DeviceBeforeSpaces", "CON  .x", ""}, LinkNameCase{"Port", "COM1", ""},
        LinkNameCase{"PortZero", "lpt0", ""}, LinkNameCase{"PortSuperscript", "LPT\xb9", "", 1252},
        LinkNameCase{"PortNine", "LPT9", ""}, LinkNameCase{"PortTwoDigits", "COM10", "COM10.lnk"},
        LinkNameCase{"PortWithLetter", "COMA", "COMA.lnk"},
        LinkNameCase{"SpaceAndPunctuation", "Cal! v2", "Cal! v2.lnk"},
        LinkNameCase{"LongerThanADevice", "NULL", "NULL.lnk"},
        LinkNameCase{"DeviceAfterADot", "Cal.PRN", "Cal.PRN.lnk"},
        LinkNameCase{"Stream", "Cal: Pro", ""}, LinkNameCase{"ParentFolders", "..\\..\\Cal", ""},
        LinkNameCase{"Slash", "A/B", ""}, LinkNameCase{"Pipe", "A|B", ""},
        LinkNameCase{"Wildcard", "A*", ""}, LinkNameCase{"Quote", "A\"B", ""},
        LinkNameCase{"AnotherFilesShortName", "CALEND~1", "", 932, &kShortcutWarning,
                     "Calendar notes.lnk", "CALEND~1.LNK"},
        LinkNameCase{"ItsOwnNameInOtherCase", "App", "app.lnk", 932, &kShortcutWarning, "app.lnk"},
        LinkNameCase{"LongNameUnreadable", "App", "", 932, &kShortcutWarning, "App.lnk", "",
                     "GetLongPathNameW"},
        LinkNameCase{"ControlCharacter", "A\tB", ""}),
    [](const ::testing::TestParamInfo<LinkNameCase>& info) { return info.param.name; });

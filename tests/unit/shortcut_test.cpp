#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "run/setup_names.h"
#include "shortcut/place_shortcut.h"
#include "support.h"

const char kProductKey[] = "SOFTWARE\\Firm\\App";

// The warnings' code page 932 bytes, spelled independently of the program's tables.
const std::string kInstallPathWarning =
    "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x83\x70\x83\x58"  // インストールパス
    "\x82\xaa\x8c\xa9\x82\xc2\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1"  // が見つかりません
    "\x82\xc5\x82\xb5\x82\xbd\x81\x42\n"                                // でした。
    "\x83\x4a\x83\x8c\x83\x93\x83\x5f\x81\x5b\x82\xaa\x90\xb3\x82\xb5"  // カレンダーが正し
    "\x82\xad\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x82\xb3"  // くインストールさ
    "\x82\xea\x82\xc4\x82\xa2\x82\xe9\x82\xa9\x8a\x6d\x94\x46\x82\xb5"  // れているか確認し
    "\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";                         // てください
const std::string kShortcutWarning =
    "\x83\x56\x83\x87\x81\x5b\x83\x67\x83\x4a\x83\x62\x83\x67\x82\xcc"  // ショートカットの
    "\x8d\xec\x90\xac\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";  // 作成に失敗しました

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
    void ExpectWarnings(const std::vector<std::string>& texts)
    {
        ASSERT_EQ(sim::MessageBoxes().size(), texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            EXPECT_EQ(sim::MessageBoxes()[i].text, texts[i]);
            EXPECT_EQ(sim::MessageBoxes()[i].caption, AppName);
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
};

class TargetTest : public ShortcutTest, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(TargetTest, PointsAtCalendarExeInTheInstallFolder)
{
    sim::SetRegistryValue(kProductKey, "InstallPath", kRegSz, GetParam().installPath);
    EXPECT_EQ(PlaceShortcut(kStartupFolder), GetParam().result);
    EXPECT_EQ(StartupLink(), GetParam().link);
    ExpectWarnings(GetParam().result == 0 ? std::vector<std::string>{}
                                          : std::vector<std::string>{kShortcutWarning});
    ExpectNothingLeftOpen();
}

const std::string k242(242, 'p');

INSTANTIATE_TEST_SUITE_P(
    InstallPaths, TargetTest,
    ::testing::Values(
        TargetCase{"NoTrailingBackslash", "C:\\Cal", 0, Link("C:\\Cal\\calendar.exe", "C:\\Cal")},
        TargetCase{"TrailingBackslash", "C:\\Cal\\", 0, Link("C:\\Cal\\calendar.exe", "C:\\Cal\\")},
        TargetCase{"Empty", "", 0, Link("\\calendar.exe", "")},
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
            entry.rfind("MultiByteToWideChar", 0) != 0)
            shellCalls.push_back(entry);
    std::vector<std::string> expected = {"SHGetSpecialFolderPathA(7)",
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
        FailureCase{"FolderUnknown", "SHGetSpecialFolderPathA", 1, -1, "", 0},
        FailureCase{"Create", "CoCreateShellLink", 1, -1, "", 0},
        FailureCase{"Query", "QueryPersistFile", 1, -1, "", 0},
        FailureCase{"SetPath", "SetPath", 1, 0, "target=\nworkdir=C:\\Cal\ndescription=App\n", 1},
        FailureCase{"SetDescription", "SetDescription", 1, 0,
                    "target=C:\\Cal\\calendar.exe\nworkdir=C:\\Cal\ndescription=\n", 1},
        FailureCase{"SetWorkingDirectory", "SetWorkingDirectory", 1, 0,
                    Link("C:\\Cal\\calendar.exe", "(unset)"), 1},
        FailureCase{"SecondInstallPathRead", "RegEnumValueA", 2, 0,
                    Link("C:\\Cal\\calendar.exe", "(unset)"), 1},
        FailureCase{"Conversion", "MultiByteToWideChar", 5, -1, "", 0},
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
    ExpectWarnings({kInstallPathWarning});
    EXPECT_TRUE(std::filesystem::is_directory(directory + "/Startup"));
    EXPECT_TRUE(std::filesystem::is_empty(directory + "/Startup"));
    EXPECT_EQ(CountCalls("CoCreateShellLink"), 0);
}

TEST_F(ShortcutTest, InstallPathWarningComesBeforeAnUnknownFolder)
{
    UseNames("Other");
    sim::FailCallNamed("SHGetSpecialFolderPathA");
    EXPECT_EQ(PlaceShortcut(kStartupFolder), -1);
    ExpectWarnings({kInstallPathWarning});
}

TEST_F(ShortcutTest, DesktopFolderForAnyOtherValue)
{
    EXPECT_EQ(PlaceShortcut(kDesktopFolder), 0);
    EXPECT_EQ(PlaceShortcut(5), 0);
    EXPECT_EQ(CountCalls("SHGetSpecialFolderPathA(16)"), 2);
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

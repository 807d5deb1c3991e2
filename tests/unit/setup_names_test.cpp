#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "run/setup_names.h"
#include "support.h"

class ReadSetupValueTest : public SimulatedTest {
protected:
    std::string Read(const char* key)
    {
        char value[kSetupNameSize];
        std::memset(value, 'x', sizeof value);
        ReadSetupValue(key, value);
        return value;
    }
};

struct SettingsCase {
    const char* name;
    std::string fileText;
    std::string applicationName;
    std::string company;
    unsigned codePage = 932;
};

// A UTF-16LE file with its BOM.
std::string Utf16File(const std::u16string& text)
{
    return "\xff\xfe" + sim::ToUtf16Bytes(text);
}

const std::string k63Hyo = [] {
    std::string text;
    for (int i = 0; i < 63; ++i) text += "\x95\x5c";  // 表
    return text;
}();

class SettingsFileTest : public ReadSetupValueTest,
                         public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFileTest, ReadsSectionSys)
{
    sim::SetAnsiCodePage(GetParam().codePage);
    WriteFile(directory + "/ImInitial", GetParam().fileText);
    EXPECT_EQ(Read("ApplicationName"), GetParam().applicationName);
    EXPECT_EQ(Read("CRCompany"), GetParam().company);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, SettingsFileTest,
    ::testing::Values(
        SettingsCase{"Plain", "[SYS]\r\nApplicationName=App\r\nCRCompany=Firm\r\n", "App", "Firm"},
        SettingsCase{"OtherCase", "[sys]\nAPPLICATIONNAME=App\ncrcompany=Firm\n", "App", "Firm"},
        SettingsCase{"SpacesAndQuotes", "[SYS]\nApplicationName = \"My App\" \nCRCompany=\tFirm\n",
                     "My App", "Firm"},
        SettingsCase{"OtherSectionsIgnored",
                     "[A]\nApplicationName=No\n[SYS]\nApplicationName=App\n[B]\nCRCompany=No\n",
                     "App", ""},
        SettingsCase{"NoSection", "ApplicationName=App\n", "", ""},
        SettingsCase{"Japanese", "[SYS]\nApplicationName=\x83\x4a\x83\x8c\x83\x93\x83\x5f\n",
                     "\x83\x4a\x83\x8c\x83\x93\x83\x5f", ""},
        SettingsCase{"CutTo127Bytes", "[SYS]\nApplicationName=" + std::string(200, 'a') + "\n",
                     std::string(127, 'a'), ""},
        // 2 + 126 bytes: the cut at 127 would split the last 表.
        SettingsCase{"CutKeepsWholeCharacters", "[SYS]\nApplicationName=aa" + k63Hyo + "\n",
                     "aa" + k63Hyo.substr(0, 124), ""},
        SettingsCase{"CutByBytesInCp1252", "[SYS]\nApplicationName=aa" + k63Hyo + "\n",
                     "aa" + k63Hyo.substr(0, 125), "", 1252},
        SettingsCase{"Utf16WithBom", Utf16File(u"[SYS]\r\nApplicationName=\u4e88\u5b9a\r\n"),
                     "\x97\x5c\x92\xe8", ""},
        SettingsCase{"Utf16WithBomInCp1252", Utf16File(u"[SYS]\r\nCRCompany=Caf\u00e9\r\n"), "",
                     "Caf\xe9", 1252},
        // Windows does not recognise a UTF-8 BOM: its bytes hide the header on the first line.
        SettingsCase{"Utf8BomHidesTheFirstHeader", "\xef\xbb\xbf[SYS]\nApplicationName=App\n", "",
                     ""},
        SettingsCase{"Utf8BomBeforeABlankLine", "\xef\xbb\xbf\n[SYS]\nApplicationName=App\n", "App",
                     "", 65001},
        SettingsCase{"HeaderWithoutBracketNamesNoSection", "[SYS\nApplicationName=App\n", "", ""},
        SettingsCase{"HeaderWithoutBracketKeepsTheSection",
                     "[SYS]\nCRCompany=Firm\n[Other\nApplicationName=App\n", "App", "Firm"}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return info.param.name; });

TEST_F(ReadSetupValueTest, MissingFileGivesEmptyNames)
{
    WriteFile(directory + "/ImInitial.ini", "[SYS]\nApplicationName=App\n");
    EXPECT_EQ(Read("ApplicationName"), "");
}

TEST_F(ReadSetupValueTest, ReadsBesideTheExecutableNotTheWorkingDirectory)
{
    std::string elsewhere = MakeScratchDirectory();
    WriteFile(elsewhere + "/ImInitial", "[SYS]\nApplicationName=Wrong\n");
    WriteSettings("Right", "");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere);
    std::string value = Read("ApplicationName");
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(elsewhere);
    EXPECT_EQ(value, "Right");
}

// A directory name ending in 0x95 0x5C must not be cut after the 0x5C.
TEST_F(ReadSetupValueTest, DoesNotCutInsideADoubleByteCharacter)
{
    sim::SetModuleFileName(directory +
                           "/d\x95\x5c"
                           "FinishSetup.exe");
    WriteFile(directory +
                  "/d\x95\x5c"
                  "ImInitial",
              "[SYS]\nApplicationName=Wrong\n");
    WriteSettings("Right", "");
    EXPECT_EQ(Read("ApplicationName"), "Right");
}

struct ModulePathCase {
    const char* name;
    std::string modulePath;
    int failingCall;
};

class UnusableModulePathTest : public ReadSetupValueTest,
                               public ::testing::WithParamInterface<ModulePathCase> {};

TEST_P(UnusableModulePathTest, LeavesTheNameEmpty)
{
    WriteSettings("App", "Firm");
    WriteFile("ImInitial", "[SYS]\nApplicationName=App\n");  // in the working directory
    std::string path = GetParam().modulePath;
    if (path.rfind("{dir}", 0) == 0) path = directory + path.substr(5);  // the settings' folder
    sim::SetModuleFileName(path.empty() ? programPath : path);
    sim::FailCall(GetParam().failingCall);
    EXPECT_EQ(Read("ApplicationName"), "");
    std::filesystem::remove("ImInitial");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnusableModulePathTest,
    ::testing::Values(
        ModulePathCase{"ModuleNameFails", "", 1}, ModulePathCase{"ProfileReadFails", "", 2},
        ModulePathCase{"NoSeparator", "FinishSetup.exe", 0},
        ModulePathCase{"ModulePathCut", "/" + std::string(300, 'd') + "/FinishSetup.exe", 0},
        // Cut inside a folder's name, below the folder that holds the settings.
        ModulePathCase{"CutBelowTheSettings", "{dir}/" + std::string(300, 'd') + "/x.exe", 0},
        // The directory and its separator take 251 bytes; with "ImInitial" the path needs 261.
        ModulePathCase{"SettingsPathTooLong", "/" + std::string(249, 'd') + "/x", 0}),
    [](const ::testing::TestParamInfo<ModulePathCase>& info) { return info.param.name; });

struct CompositionCase {
    const char* name;
    std::string appName;
    std::string company;
    std::string productKeyPath;
    std::string uninstallKeyPath;
    std::string shortcutFileName;
};

class ComposeSetupNamesTest : public ::testing::TestWithParam<CompositionCase> {};

TEST_P(ComposeSetupNamesTest, ComposesOrLeavesEmpty)
{
    const CompositionCase& c = GetParam();
    ClearSetupNames();
    std::memcpy(AppName, c.appName.c_str(), c.appName.size() + 1);
    std::memcpy(CompanyName, c.company.c_str(), c.company.size() + 1);
    ComposeSetupNames();
    EXPECT_EQ(ProductKeyPath, c.productKeyPath);
    EXPECT_EQ(UninstallKeyPath, c.uninstallKeyPath);
    EXPECT_EQ(ShortcutFileName, c.shortcutFileName);
    EXPECT_EQ(IsNameAvailable(ProductKeyPath), !c.productKeyPath.empty());
}

const std::string kUninstallRoot = "SOFTWARE\\Microsoft\\windows\\CurrentVersion\\Uninstall\\\\";

INSTANTIATE_TEST_SUITE_P(
    Names, ComposeSetupNamesTest,
    ::testing::Values(
        CompositionCase{"Typical", "App", "Firm", "SOFTWARE\\Firm\\App", kUninstallRoot + "App",
                        "\\App.lnk"},
        CompositionCase{"BothEmpty", "", "", "SOFTWARE\\\\", kUninstallRoot, "\\.lnk"},
        CompositionCase{
            "UninstallFullAt74", std::string(74, 'a'), "", "SOFTWARE\\\\" + std::string(74, 'a'),
            kUninstallRoot + std::string(74, 'a'), "\\" + std::string(74, 'a') + ".lnk"},
        CompositionCase{"UninstallUnavailableAt75", std::string(75, 'a'), "",
                        "SOFTWARE\\\\" + std::string(75, 'a'), "",
                        "\\" + std::string(75, 'a') + ".lnk"},
        CompositionCase{"ProductFullAt117", std::string(100, 'a'), std::string(17, 'c'),
                        "SOFTWARE\\" + std::string(17, 'c') + "\\" + std::string(100, 'a'), "",
                        "\\" + std::string(100, 'a') + ".lnk"},
        CompositionCase{"ProductUnavailableAt118", std::string(100, 'a'), std::string(18, 'c'), "",
                        "", "\\" + std::string(100, 'a') + ".lnk"},
        CompositionCase{"ShortcutFullAt122", std::string(122, 'a'), "", "", "",
                        "\\" + std::string(122, 'a') + ".lnk"},
        CompositionCase{"AllUnavailableAt123", std::string(123, 'a'), "", "", "", ""}),
    [](const ::testing::TestParamInfo<CompositionCase>& info) { return info.param.name; });

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "run/setup_names.h"
#include "support.h"

class ReadSetupValueTest : public SimulatedTest {
protected:
    std::string Read(const char16_t* key)
    {
        char value[kSetupNameSize];
        std::memset(value, 'x', sizeof value);
        exact = ReadSetupValue(key, value);
        return value;
    }
    int exact = -1;
};

struct SettingsCase {
    const char* name;
    std::string fileText;
    std::string applicationName;
    std::string company;
    unsigned codePage = 932;
    int applicationNameExact = 1;
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
    EXPECT_EQ(Read(u"ApplicationName"), GetParam().applicationName);
    EXPECT_EQ(exact, GetParam().applicationNameExact);
    EXPECT_EQ(Read(u"CRCompany"), GetParam().company);
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
        // A name the code page has only a look-alike or '?' for is not taken at all.
        SettingsCase{"LookAlikeIsUnavailable",
                     Utf16File(u"[SYS]\r\nApplicationName=Caf\u00e9\r\nCRCompany=Firm\r\n"), "",
                     "Firm", 932, 0},
        SettingsCase{"LookAlikeFirstCharacter",
                     Utf16File(u"[SYS]\r\nApplicationName=\u00c9clair\r\n"), "", "", 932, 0},
        // 42 characters of three bytes and one of one fill 127 bytes; the rest makes more than
        // two bytes a unit.
        SettingsCase{"LongInUtf8",
                     Utf16File(u"[SYS]\nApplicationName=" + std::u16string(42, u'\u4e88') + u"a" +
                               std::u16string(212, u'\u4e88') + u"\n"),
                     [] {
                         std::string text;
                         for (int i = 0; i < 42; ++i) text += "\u4e88";
                         return text + "a";
                     }(),
                     "", 65001},
        SettingsCase{"JapaneseInCp1252IsUnavailable",
                     Utf16File(u"[SYS]\r\nApplicationName=\u4e88\u5b9a\r\n"), "", "", 1252, 0},
        SettingsCase{
            "LookAlikeBeyondTheCut",
            Utf16File(u"[SYS]\nApplicationName=" + std::u16string(130, u'a') + u"\u00e9\n"),
            std::string(127, 'a'), ""},
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
    EXPECT_EQ(Read(u"ApplicationName"), "");
}

TEST_F(ReadSetupValueTest, ReadsBesideTheExecutableNotTheWorkingDirectory)
{
    std::string elsewhere = MakeScratchDirectory();
    WriteFile(elsewhere + "/ImInitial", "[SYS]\nApplicationName=Wrong\n");
    WriteSettings("Right", "");
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere);
    std::string value = Read(u"ApplicationName");
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(elsewhere);
    EXPECT_EQ(value, "Right");
}

// The settings beside the executable, in a folder the code page names only by a look-alike or
// whose name ends in 表, 0x95 0x5C: not those a look-alike or a cut after the 0x5C would find.
struct ModuleFolderCase {
    const char* name;
    std::string folder;         // UTF-8, below the scratch directory
    std::string wrongSettings;  // UTF-8, below the scratch directory
};

class ModuleFolderTest : public ReadSetupValueTest,
                         public ::testing::WithParamInterface<ModuleFolderCase> {};

TEST_P(ModuleFolderTest, ReadsTheSettingsOfItsOwnFolder)
{
    const ModuleFolderCase& c = GetParam();
    std::filesystem::create_directories(directory + "/" + c.folder);
    std::filesystem::create_directories(
        std::filesystem::path(directory + "/" + c.wrongSettings).parent_path());
    WriteFile(directory + "/" + c.folder + "/ImInitial", "[SYS]\nApplicationName=Right\n");
    WriteFile(directory + "/" + c.wrongSettings, "[SYS]\nApplicationName=Wrong\n");
    sim::SetModuleFileName(directory + "/" + c.folder + "/FinishSetup.exe");
    EXPECT_EQ(Read(u"ApplicationName"), "Right");
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ModuleFolderTest,
    ::testing::Values(ModuleFolderCase{"EndsInTrailByte5C", "d\u8868", "d\u8868ImInitial"},
                      ModuleFolderCase{"OutsideCodePage", "Caf\u00e9 Setup",
                                       "Cafe Setup/ImInitial"}),
    [](const ::testing::TestParamInfo<ModuleFolderCase>& info) { return info.param.name; });

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
    EXPECT_EQ(Read(u"ApplicationName"), "");
    std::filesystem::remove("ImInitial");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnusableModulePathTest,
    ::testing::Values(
        ModulePathCase{"ModuleNameFails", "", 1}, ModulePathCase{"ProfileReadFails", "", 2},
        ModulePathCase{"ConversionFails", "", 3}, ModulePathCase{"BackConversionFails", "", 4},
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
    int appExact = 1;
    int companyExact = 1;
};

class ComposeSetupNamesTest : public ::testing::TestWithParam<CompositionCase> {};

TEST_P(ComposeSetupNamesTest, ComposesOrLeavesEmpty)
{
    const CompositionCase& c = GetParam();
    ClearSetupNames();
    std::memcpy(AppName, c.appName.c_str(), c.appName.size() + 1);
    std::memcpy(CompanyName, c.company.c_str(), c.company.size() + 1);
    ComposeSetupNames(c.appExact, c.companyExact);
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
        CompositionCase{"AllUnavailableAt123", std::string(123, 'a'), "", "", "", ""},
        // Empty as ReadSetupValue leaves a name with no exact form: not the empty name's paths.
        CompositionCase{"AppNotExact", "", "Firm", "", "", "", 0, 1},
        CompositionCase{"CompanyNotExact", "App", "", "", kUninstallRoot + "App", "\\App.lnk", 1,
                        0}),
    [](const ::testing::TestParamInfo<CompositionCase>& info) { return info.param.name; });

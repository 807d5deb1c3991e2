#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/setup_names.h"
#include "run/win_main.h"
#include "support.h"

struct GateCase {
    const char* name;
    std::string commandLine;
    bool runs;
    std::u16string typed = u"";  // the command line in UTF-16, where it is not commandLine
    unsigned codePage = 932;
};

class GateTest : public SimulatedTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(GateTest, RunsOnlyForTheSingleArgumentNormal)
{
    WriteSettings("App", "Firm");
    sim::SetAnsiCodePage(GetParam().codePage);
    sim::SetCommandLine(GetParam().commandLine);
    if (!GetParam().typed.empty()) sim::SetCommandLineW(GetParam().typed);
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(CountCalls("GetPrivateProfileStringW"), GetParam().runs ? 2 : 0);
    EXPECT_EQ(CountCalls(""), GetParam().runs ? CountCalls("") : 0) << "nothing touched";
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, GateTest,
    ::testing::Values(GateCase{"NoArgument", "C:\\Cal\\FinishSetup.exe", false},
                      GateCase{"Normal", "C:\\Cal\\FinishSetup.exe -normal", true},
                      GateCase{"Capitals", "C:\\Cal\\FinishSetup.exe -NORMAL", true},
                      GateCase{"MixedCase", "C:\\Cal\\FinishSetup.exe -NoRmAl", true},
                      GateCase{"TrailingSpace", "C:\\Cal\\FinishSetup.exe -normal ", false},
                      GateCase{"SecondArgument", "C:\\Cal\\FinishSetup.exe -normal -x", false},
                      GateCase{"QuotedArgument", "C:\\Cal\\FinishSetup.exe \"-normal\"", false},
                      GateCase{"QuotedPathWithSpaces",
                               "\"C:\\Program Files\\Cal\\FinishSetup.exe\" -normal", true},
                      GateCase{"TabsAndSpaces", "FinishSetup.exe \t  \t-normal", true},
                      GateCase{"Prefix", "FinishSetup.exe -norma", false},
                      GateCase{"Longer", "FinishSetup.exe -normally", false},
                      // A tail of 128 bytes, one more than its buffer holds besides the zero.
                      GateCase{"TailLongerThanItsBuffer",
                               "FinishSetup.exe -normal" + std::string(121, ' '), false},
                      // The fold is ASCII only: a full-width letter is no 'n'.
                      GateCase{"NoCodePageFolding", "FinishSetup.exe -\x82\x8eormal", false},
                      // Code page 1252 has look-alikes only: '"' for the full-width quote of a
                      // folder's name, which must not end the quoted name, and "-normal" for
                      // the full-width argument, which is not -normal.
                      GateCase{"FullWidthQuoteInFolder", "", true,
                               u"\"C:\\Set\uff02 up\\FinishSetup.exe\" -normal", 1252},
                      GateCase{"FullWidthArgument", "", false,
                               u"FinishSetup.exe \uff0d\uff4e\uff4f\uff52\uff4d\uff41\uff4c",
                               1252}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return info.param.name; });

TEST_F(GateTest, ReadsTheNamesInOrderAndComposesThem)
{
    WriteSettings("App", "Firm");
    EXPECT_EQ(WinMain(nullptr, nullptr, "-normal", 0), 0);
    std::vector<std::string> reads;
    for (const std::string& entry : sim::CallLog())
        if (entry.rfind("GetPrivateProfileStringW(", 0) == 0)
            reads.push_back(entry.substr(0, entry.find(',')));
    EXPECT_EQ(reads, (std::vector<std::string>{"GetPrivateProfileStringW(ApplicationName",
                                               "GetPrivateProfileStringW(CRCompany"}));
    EXPECT_STREQ(ProductKeyPath, "SOFTWARE\\Firm\\App");
    EXPECT_STREQ(ShortcutFileName, "\\App.lnk");
}

TEST_F(GateTest, ClearsNamesLeftFromAnEarlierRun)
{
    WriteSettings("A Longer Name", "Firm");
    WinMain(nullptr, nullptr, "-normal", 0);
    WriteSettings("App", "");
    WinMain(nullptr, nullptr, "-normal", 0);
    EXPECT_EQ(std::string(AppName, kSetupNameSize), "App" + std::string(kSetupNameSize - 3, '\0'));
    EXPECT_STREQ(CompanyName, "");
}

const char kProduct[] = "SOFTWARE\\Firm\\App";
const char kEntry[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App";
const std::string kOldCommand = "C:\\old\\remove.exe /x";
const std::string kNewCommand = std::string("\"C:\\Cal\\Uninstall.exe\"") + '\0';

class RunTest : public SimulatedTest {
protected:
    void SetUp() override
    {
        SimulatedTest::SetUp();
        WriteSettings("App", "Firm");
        sim::SetCommandLine("\"" + programPath + "\" -normal");
        sim::SetRegistryValue(kProduct, "InstallPath", kRegSz, "C:\\Cal");
        sim::SetRegistryValue(kEntry, "UninstallString", kRegSz, kOldCommand);
        sim::SetSpecialFolder(kCsidlStartup, directory + "/Startup");
        sim::SetSpecialFolder(kCsidlDesktopDirectory, directory + "/Desktop");
    }
    std::string UninstallString() const
    {
        return sim::RegistryValues(kEntry).at(0).data;
    }
    std::string SavedLink(const char* folder) const
    {
        return sim::ReadSavedLink(directory + "/" + folder + "/App.lnk");
    }
    void ExpectNothingLeftOpen(int failing = 0)
    {
        EXPECT_EQ(sim::OpenKeyCount(), 0) << "failing call " << failing;
        EXPECT_EQ(sim::LiveAllocationCount(), 0) << "failing call " << failing;
        EXPECT_EQ(sim::LiveComReferences(), 0) << "failing call " << failing;
        EXPECT_EQ(sim::ComInitializations(), 0) << "failing call " << failing;
    }
};

const std::string kLink = "target=C:\\Cal\\calendar.exe\nworkdir=C:\\Cal\ndescription=App\n";

TEST_F(RunTest, WritesBothShortcutsAndTheUninstallCommand)
{
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(SavedLink("Startup"), kLink);
    EXPECT_EQ(SavedLink("Desktop"), kLink);
    EXPECT_EQ(UninstallString(), kNewCommand);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(CountCalls("CoUninitialize"), 1);
    ExpectNothingLeftOpen();
}

TEST_F(RunTest, StartupFailureSkipsTheDesktop)
{
    sim::SetSpecialFolder(kCsidlStartup, directory + "/missing/Startup");
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(CountCalls("SHGetSpecialFolderPathW(16)"), 0);
    EXPECT_EQ(SavedLink("Desktop"), "");
    EXPECT_EQ(UninstallString(), kNewCommand);
    ExpectNothingLeftOpen();
}

TEST_F(RunTest, MissingInstallPathWarnsOnce)
{
    WriteSettings("App", "Other");
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(CountCalls("SHGetSpecialFolderPathW"), 1);
    ExpectNothingLeftOpen();
}

struct ComCase {
    const char* name;
    HResult initialization;
    bool shortcuts;
};

class ComInitializationTest : public RunTest, public ::testing::WithParamInterface<ComCase> {};

TEST_P(ComInitializationTest, NegativeResultSkipsTheShortcutsSilently)
{
    sim::SetCoInitializeResult(GetParam().initialization);
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(SavedLink("Startup"), GetParam().shortcuts ? kLink : "");
    EXPECT_EQ(CountCalls("CoUninitialize"), GetParam().shortcuts ? 1 : 0);
    EXPECT_TRUE(sim::MessageBoxes().empty());
    EXPECT_EQ(UninstallString(), kNewCommand);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ComInitializationTest,
    ::testing::Values(ComCase{"Ok", 0, true}, ComCase{"AlreadyInitialized", 1, true},
                      ComCase{"ChangedMode", static_cast<HResult>(0x80010106), false},
                      ComCase{"InitializationFails", kEFail, false}),
    [](const ::testing::TestParamInfo<ComCase>& info) { return info.param.name; });

TEST_F(RunTest, PointsTheUninstallEntryAtUninstallExe)
{
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(UninstallString(), kNewCommand);
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(UninstallString(), kNewCommand);
    EXPECT_EQ(CountCalls("RegSetValueExA"), 2);
}

TEST_F(RunTest, WithoutInstallPathTheEntryIsLeftAlone)
{
    WriteSettings("App", "Other");
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(UninstallString(), kOldCommand);
    EXPECT_EQ(CountCalls("RegSetValueExA"), 0);
}

// For each N, the N-th fallible operation of a run fails: the run still ends with 0, leaves
// nothing open, and the uninstall entry holds either the old or the complete new command.
// A failing property setting still saves a link, so only the Desktop rule is checked.
TEST_F(RunTest, EachFailingOperationLeavesAConsistentState)
{
    for (int failing = 1;; ++failing) {
        TearDown();
        SetUp();
        sim::FailCall(failing);
        EXPECT_EQ(StartProgram(), 0);
        ExpectNothingLeftOpen(failing);
        std::string command = UninstallString();
        EXPECT_TRUE(command == kOldCommand || command == kNewCommand) << "failing call " << failing;
        // At most one warning, from the one shortcut that failed; a written link is whole.
        EXPECT_LE(sim::MessageBoxes().size(), 1u) << "failing call " << failing;
        bool desktopTried = CountCalls("SHGetSpecialFolderPathW(16)") > 0;
        EXPECT_EQ(desktopTried, SavedLink("Startup") != "") << "failing call " << failing;
        if (sim::FallibleCallCount() < failing) break;
    }
}

// An install path that cannot be used exactly is not found: one warning, no link, and the
// entry left alone. One the code page holds exactly is used as stored.
struct InstallPathCase {
    const char* name;
    std::u16string installPath;
    unsigned codePage;
    std::string ansiPath;  // as the program reads it; empty: not found
};

class InstallPathFormTest : public RunTest,
                            public ::testing::WithParamInterface<InstallPathCase> {};

TEST_P(InstallPathFormTest, UsesOnlyTheExactPath)
{
    const InstallPathCase& c = GetParam();
    sim::SetAnsiCodePage(c.codePage);
    sim::SetRegistryValueW(kProduct, "InstallPath", kRegSz, c.installPath);
    EXPECT_EQ(StartProgram(), 0);
    bool found = !c.ansiPath.empty();
    EXPECT_EQ(sim::MessageBoxes().size(), found ? 0u : 1u);
    EXPECT_EQ(SavedLink("Startup"), found ? "target=" + c.ansiPath + "\\calendar.exe\nworkdir=" +
                                                c.ansiPath + "\ndescription=App\n"
                                          : "");
    EXPECT_EQ(UninstallString(),
              found ? '"' + c.ansiPath + "\\Uninstall.exe\"" + '\0' : kOldCommand);
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Paths, InstallPathFormTest,
    ::testing::Values(InstallPathCase{"LookAlike", u"C:\\Caf\u00e9", 932, ""},
                      InstallPathCase{"Quote", u"C:\\A\"B", 932, ""},
                      InstallPathCase{"ExactInCp1252", u"C:\\Caf\u00e9", 1252, "C:\\Caf\xe9"},
                      InstallPathCase{"SpaceInName", u"C:\\Sample Cal", 932, "C:\\Sample Cal"},
                      InstallPathCase{"Relative", u"Cal", 932, ""},
                      InstallPathCase{"Empty", u"", 932, ""}),
    [](const ::testing::TestParamInfo<InstallPathCase>& info) { return info.param.name; });

// On a window station no user can see, or in the services' session, a box would wait forever:
// none is shown, and the run goes on as after a dismissed one. When the flags or the session
// cannot be read, the box is shown.
struct StationCase {
    const char* name;
    bool visible;
    bool installed;
    std::size_t boxes;
    Dword session = 1;
    const char* failing = nullptr;  // the call that fails
};

class WindowStationTest : public RunTest, public ::testing::WithParamInterface<StationCase> {};

TEST_P(WindowStationTest, ShowsABoxOnlyWhereSomeoneCanSeeIt)
{
    const StationCase& c = GetParam();
    if (!c.installed) WriteSettings("App", "Other");
    sim::SetWindowStationVisible(c.visible);
    sim::SetSessionId(c.session);
    if (c.failing != nullptr) sim::FailCallNamed(c.failing);
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(sim::MessageBoxes().size(), c.boxes);
    EXPECT_EQ(SavedLink("Startup"), c.installed ? kLink : "");
    EXPECT_EQ(SavedLink("Desktop"), c.installed ? kLink : "");
    EXPECT_EQ(UninstallString(), c.installed ? kNewCommand : kOldCommand);
    ExpectNothingLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(
    Stations, WindowStationTest,
    ::testing::Values(StationCase{"Visible", true, false, 1},
                      StationCase{"Hidden", false, false, 0},
                      StationCase{"HiddenTypicalRun", false, true, 0},
                      StationCase{"FlagsUnreadable", false, false, 1, 1, "GetUserObjectFlags"},
                      // The services' session: a visible station there is no user's.
                      StationCase{"SessionZero", true, false, 0, 0},
                      StationCase{"SessionZeroTypicalRun", true, true, 0, 0},
                      StationCase{"SessionUnreadable", true, false, 1, 0, "ProcessIdToSessionId"}),
    [](const ::testing::TestParamInfo<StationCase>& info) { return info.param.name; });

// "Café" has only the look-alike "Cafe" in code page 932, which may be another product's: none
// of its keys or links is touched, and the one warning has no caption.
TEST_F(RunTest, NameWithoutExactFormTouchesNothing)
{
    const std::string cafeEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Cafe";
    WriteFile(directory + "/ImInitial",
              "\xff\xfe" +
                  sim::ToUtf16Bytes(u"[SYS]\r\nApplicationName=Caf\u00e9\r\nCRCompany=Firm\r\n"));
    sim::SetRegistryValue("SOFTWARE\\Firm\\Cafe", "InstallPath", kRegSz, "C:\\Cal");
    sim::SetRegistryValue(cafeEntry, "UninstallString", kRegSz, kOldCommand);
    EXPECT_EQ(StartProgram(), 0);
    ASSERT_EQ(sim::MessageBoxes().size(), 1u);
    EXPECT_EQ(sim::MessageBoxes()[0].caption, u"");
    EXPECT_EQ(sim::RegistryValues(cafeEntry).at(0).data, kOldCommand);
    EXPECT_TRUE(std::filesystem::is_empty(directory + "/Startup"));
    ExpectNothingLeftOpen();
}

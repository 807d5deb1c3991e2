#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "run/setup_names.h"
#include "run/win_main.h"
#include "support.h"

struct GateCase {
    const char* name;
    std::string commandLine;
    bool runs;
};

class GateTest : public SimulatedTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(GateTest, RunsOnlyForTheSingleArgumentNormal)
{
    WriteSettings("App", "Firm");
    sim::SetCommandLine(GetParam().commandLine);
    EXPECT_EQ(StartProgram(), 0);
    EXPECT_EQ(CountCalls("GetPrivateProfileStringA"), GetParam().runs ? 2 : 0);
    EXPECT_EQ(CountCalls(""), GetParam().runs ? CountCalls("") : 0) << "nothing touched";
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, GateTest,
    ::testing::Values(
        GateCase{"NoArgument", "C:\\Cal\\FinishSetup.exe", false},
        GateCase{"Normal", "C:\\Cal\\FinishSetup.exe -normal", true},
        GateCase{"Capitals", "C:\\Cal\\FinishSetup.exe -NORMAL", true},
        GateCase{"MixedCase", "C:\\Cal\\FinishSetup.exe -NoRmAl", true},
        GateCase{"TrailingSpace", "C:\\Cal\\FinishSetup.exe -normal ", false},
        GateCase{"SecondArgument", "C:\\Cal\\FinishSetup.exe -normal -x", false},
        GateCase{"QuotedArgument", "C:\\Cal\\FinishSetup.exe \"-normal\"", false},
        GateCase{"QuotedPathWithSpaces", "\"C:\\Program Files\\Cal\\FinishSetup.exe\" -normal",
                 true},
        GateCase{"TabsAndSpaces", "FinishSetup.exe \t  \t-normal", true},
        GateCase{"Prefix", "FinishSetup.exe -norma", false},
        GateCase{"Longer", "FinishSetup.exe -normally", false},
        // The fold is ASCII only: a full-width letter is no 'n'.
        GateCase{"NoCodePageFolding", "FinishSetup.exe -\x82\x8eormal", false}),
    [](const ::testing::TestParamInfo<GateCase>& info) { return info.param.name; });

TEST_F(GateTest, ReadsTheNamesInOrderAndComposesThem)
{
    WriteSettings("App", "Firm");
    EXPECT_EQ(WinMain(nullptr, nullptr, "-normal", 0), 0);
    ASSERT_GE(sim::CallLog().size(), 4u);
    EXPECT_EQ(sim::CallLog()[1].rfind("GetPrivateProfileStringA(ApplicationName,", 0), 0u);
    EXPECT_EQ(sim::CallLog()[3].rfind("GetPrivateProfileStringA(CRCompany,", 0), 0u);
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
const std::string kNewCommand = std::string("C:\\Cal\\Uninstall.exe") + '\0';

class RunTest : public SimulatedTest {
protected:
    void SetUp() override
    {
        SimulatedTest::SetUp();
        WriteSettings("App", "Firm");
        sim::SetCommandLine("\"" + programPath + "\" -normal");
        sim::SetRegistryValue(kProduct, "InstallPath", kRegSz, "C:\\Cal");
        sim::SetRegistryValue(kEntry, "UninstallString", kRegSz, kOldCommand);
    }
    std::string UninstallString() const { return sim::RegistryValues(kEntry).at(0).data; }
};

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
TEST_F(RunTest, EachFailingOperationLeavesAConsistentState)
{
    for (int failing = 1;; ++failing) {
        TearDown();
        SetUp();
        sim::FailCall(failing);
        EXPECT_EQ(StartProgram(), 0);
        EXPECT_EQ(sim::OpenKeyCount(), 0) << "failing call " << failing;
        EXPECT_EQ(sim::LiveAllocationCount(), 0) << "failing call " << failing;
        std::string command = UninstallString();
        EXPECT_TRUE(command == kOldCommand || command == kNewCommand) << "failing call " << failing;
        if (sim::FallibleCallCount() < failing) break;
    }
}

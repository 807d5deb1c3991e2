#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

std::string MakeScratchDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "finishsetup-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    return made;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
}

void SimulatedTest::SetUp()
{
    sim::Reset();
    directory = MakeScratchDirectory();
    programPath = directory + "/FinishSetup.exe";
    sim::SetModuleFileName(programPath);
}

void SimulatedTest::TearDown()
{
    std::filesystem::remove_all(directory);
}

void SimulatedTest::WriteSettings(const std::string& appName, const std::string& company)
{
    WriteFile(directory + "/ImInitial",
              "[SYS]\r\nApplicationName=" + appName + "\r\nCRCompany=" + company + "\r\n");
}

int SimulatedTest::CountCalls(const std::string& prefix) const
{
    int count = 0;
    for (const std::string& entry : sim::CallLog()) count += entry.rfind(prefix, 0) == 0;
    return count;
}

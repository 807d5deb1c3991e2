// Shared fixtures: a fresh simulated platform and a scratch directory per test.
#ifndef FINISHSETUP_TESTS_SUPPORT_H
#define FINISHSETUP_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "simulated.h"

std::string MakeScratchDirectory();
void WriteFile(const std::string& path, const std::string& bytes);

// Resets the platform and places the program in a scratch directory of its own.
class SimulatedTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Writes the settings file beside the program: [SYS] with the two names.
    void WriteSettings(const std::string& appName, const std::string& company);
    int CountCalls(const std::string& prefix) const;

    std::string directory;
    std::string programPath;
};

#endif

// The simulated platform's controls, for the unit tests: what the process was started with,
// which platform operation fails, and what the program asked of the platform.
#ifndef FINISHSETUP_PLATFORM_SIMULATED_H
#define FINISHSETUP_PLATFORM_SIMULATED_H

#include <string>
#include <vector>

namespace sim {

// Back to a process with no command line, no module path and nothing recorded.
void Reset();

void SetCommandLine(const std::string& commandLine);
void SetModuleFileName(const std::string& path);

// The n-th call (counting from 1) of an operation that can fail on Windows fails; 0: none does.
void FailCall(int n);
int FallibleCallCount();

// Each fallible operation the program called, in order, as "Name" or "Name(detail)".
const std::vector<std::string>& CallLog();

// For the simulated operations: records the call; true when this call is the one to fail.
bool EnterCall(const std::string& entry);

}  // namespace sim

#endif

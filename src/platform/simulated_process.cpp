// The simulated process: command line, module path, failure injection and the call log.
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/simulated.h"

namespace {
std::string commandLine;
std::string moduleFileName;
int failingCall = 0;
int callCount = 0;
std::string failingPrefix;
int failingOccurrence = 0;
std::vector<std::string> callLog;
}  // namespace

namespace sim {

void ResetRegistry();
void ResetShell();

void Reset()
{
    commandLine.clear();
    moduleFileName.clear();
    failingCall = 0;
    callCount = 0;
    failingPrefix.clear();
    failingOccurrence = 0;
    callLog.clear();
    SetAnsiCodePage(932);
    ResetRegistry();
    ResetShell();
}

void SetCommandLine(const std::string& line)
{
    commandLine = line;
}

void SetModuleFileName(const std::string& path)
{
    moduleFileName = path;
}

void FailCall(int n)
{
    failingCall = n;
}

void FailCallNamed(const std::string& prefix, int occurrence)
{
    failingPrefix = prefix;
    failingOccurrence = occurrence;
}

int FallibleCallCount()
{
    return callCount;
}

const std::vector<std::string>& CallLog()
{
    return callLog;
}

void Record(const std::string& entry)
{
    callLog.push_back(entry);
}

bool EnterCall(const std::string& entry)
{
    callLog.push_back(entry);
    bool named =
        !failingPrefix.empty() && entry.rfind(failingPrefix, 0) == 0 && --failingOccurrence == 0;
    return ++callCount == failingCall || named;
}

}  // namespace sim

namespace os {

const char* GetCommandLineA()
{
    return commandLine.c_str();
}

// As on Windows Vista and later: a path too long is cut to size - 1 bytes and size returned.
Dword GetModuleFileNameA(char* buffer, Dword size)
{
    if (sim::EnterCall("GetModuleFileNameA") || size == 0) return 0;
    std::size_t length = moduleFileName.size();
    if (length >= size) {
        std::memcpy(buffer, moduleFileName.data(), size - 1);
        buffer[size - 1] = 0;
        return size;
    }
    std::memcpy(buffer, moduleFileName.c_str(), length + 1);
    return static_cast<Dword>(length);
}

}  // namespace os

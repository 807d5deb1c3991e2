// The simulated process: command line, module path, failure injection and the call log.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulated.h"

namespace {
std::string commandLine;
std::u16string wideCommandLine;
bool commandLineIsWide = false;
std::string moduleFileName;
int failingCall = 0;
int callCount = 0;
std::string failingPrefix;
int failingOccurrence = 0;
std::vector<std::string> callLog;
Dword sessionId = 1;
}  // namespace

namespace sim {

void ResetRegistry();
void ResetShell();

void Reset()
{
    commandLine.clear();
    commandLineIsWide = false;
    moduleFileName.clear();
    failingCall = 0;
    callCount = 0;
    failingPrefix.clear();
    failingOccurrence = 0;
    callLog.clear();
    sessionId = 1;
    SetAnsiCodePage(932);
    ResetRegistry();
    ResetShell();
}

void SetCommandLine(const std::string& line)
{
    commandLine = line;
    commandLineIsWide = false;
}

void SetCommandLineW(const std::u16string& line)
{
    wideCommandLine = line;
    commandLineIsWide = true;
}

void SetModuleFileName(const std::string& path)
{
    moduleFileName = path;
}

void SetSessionId(Dword session)
{
    sessionId = session;
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

// Windows keeps the command line in UTF-16; typed in the code page, it is converted with it.
const char16_t* GetCommandLineW()
{
    if (!commandLineIsWide) wideCommandLine = sim::ToWide(commandLine, nullptr);
    return wideCommandLine.c_str();
}

// The host path (UTF-8) in UTF-16, as the file system names it whatever the code page. As on
// Windows Vista and later: a path too long is cut to size - 1 units and size returned.
Dword GetModuleFileNameW(char16_t* buffer, Dword size)
{
    if (sim::EnterCall("GetModuleFileNameW") || size == 0) return 0;
    std::u16string path = sim::FromUtf8(moduleFileName);
    std::size_t length = std::min<std::size_t>(path.size(), size - 1);
    std::copy(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(length), buffer);
    buffer[length] = 0;
    return path.size() >= size ? size : static_cast<Dword>(length);
}

Dword GetCurrentProcessId()
{
    sim::Record("GetCurrentProcessId");
    return 0x2a;
}

int ProcessIdToSessionId(Dword processId, Dword* session)
{
    if (sim::EnterCall("ProcessIdToSessionId") || processId != 0x2a) return 0;
    *session = sessionId;
    return 1;
}

}  // namespace os

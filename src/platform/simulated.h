// The simulated platform's controls, for the unit tests: what the process was started with,
// which platform operation fails, and what the program asked of the platform.
#ifndef FINISHSETUP_PLATFORM_SIMULATED_H
#define FINISHSETUP_PLATFORM_SIMULATED_H

#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Back to a process with no command line, no module path and nothing recorded.
void Reset();

void SetCommandLine(const std::string& commandLine);
void SetModuleFileName(const std::string& path);

// The n-th call (counting from 1) of an operation that can fail on Windows fails; 0: none does.
void FailCall(int n);
int FallibleCallCount();
// The occurrence-th call (counting from 1) whose log entry begins with prefix fails.
void FailCallNamed(const std::string& prefix, int occurrence = 1);

// Each fallible operation the program called, in order, as "Name" or "Name(detail)".
const std::vector<std::string>& CallLog();

// For the simulated operations: records the call; true when this call is the one to fail.
bool EnterCall(const std::string& entry);
// Records a call of an operation that does not fail.
void Record(const std::string& entry);

// The registry under HKEY_LOCAL_MACHINE. Paths are matched without ASCII case. The paths given
// here may hold empty components ("a\\b" is "a\b"), but RegOpenKeyExA refuses a subkey with
// one, as Windows does. Values keep their creation order.
struct RegistryValue {
    std::string name;
    Dword type;
    std::string data;
};
inline bool operator==(const RegistryValue& a, const RegistryValue& b)
{
    return a.name == b.name && a.type == b.type && a.data == b.data;
}
void SetRegistryValue(const std::string& keyPath, const std::string& name, Dword type,
                      const std::string& data);
// Opening the key for writing is refused, as for a user without the right to change it.
void DenyWriteAccess(const std::string& keyPath);
bool RegistryKeyExists(const std::string& keyPath);
std::vector<RegistryValue> RegistryValues(const std::string& keyPath);
// Every enumeration answers ERROR_MORE_DATA, as a value whose data keeps growing would.
void ReportMoreDataAlways(bool always);

// The shell: special folders are real directories (a folder never set cannot be had), and
// the shell link object saves a small text file (target, working directory, description)
// where the real one saves a .lnk, so that a folder that does not exist fails the save.
void SetSpecialFolder(int csidl, const std::string& path);
void SetCoInitializeResult(HResult result);
// The save's result when it would succeed: S_FALSE, say, instead of S_OK.
void SetSaveSuccessResult(HResult result);
struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned style;
};
const std::vector<ShownMessage>& MessageBoxes();
// What a saved link holds, read back from its file; empty when there is none.
std::string ReadSavedLink(const std::string& path);
int LiveComReferences();
int ComInitializations();  // CoInitialize calls that succeeded, less CoUninitialize calls

// Registry handles not yet closed, and heap blocks not yet freed.
int OpenKeyCount();
int LiveAllocationCount();

}  // namespace sim

#endif

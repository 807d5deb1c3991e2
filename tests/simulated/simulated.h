// The simulated platform's controls, for the unit tests: what the process was started with,
// which platform operation fails, and what the program asked of the platform.
#ifndef FINISHSETUP_PLATFORM_SIMULATED_H
#define FINISHSETUP_PLATFORM_SIMULATED_H

#include <string>
#include <vector>

#include "platform/platform.h"

namespace sim {

// Back to a process with no command line, no module path and nothing recorded, in code page
// 932.
void Reset();

// The system's ANSI code page: 932, 1252 or 65001 (UTF-8). Character stepping, the ANSI
// calls' conversions and the profile reader follow it.
void SetAnsiCodePage(unsigned codePage);
unsigned AnsiCodePage();
// The conversions Windows makes in the ANSI calls; *exact (when given) is false when a
// character had no exact form and a replacement, a best fit or '?', was taken.
std::u16string ToWide(const std::string& ansi, bool* exact);
std::string ToAnsi(const std::u16string& wide, bool* exact);
std::string ToUtf8(const std::u16string& wide);
// UTF-16LE bytes, as the registry and a UTF-16 file hold them; an odd last byte is dropped.
std::u16string FromUtf16Bytes(const std::string& bytes);
std::string ToUtf16Bytes(const std::u16string& units);
std::u16string FromUtf8(const std::string& utf8);
// A unit's upper case as Windows' table gives it, for file and registry names compared without
// case, for the letters the tests use: ASCII, Latin-1 and the full-width Latin letters.
char16_t UpperUnit(char16_t unit);

// The command line as typed in the code page, or in UTF-16 (which the code page may not hold).
void SetCommandLine(const std::string& commandLine);
void SetCommandLineW(const std::u16string& commandLine);
// The executable's host path, in UTF-8: the program has it in UTF-16, so a folder outside the
// code page ("Café Setup" on code page 932) is named exactly.
void SetModuleFileName(const std::string& path);
// The process's session: 0 for the services' session, which no user sees; 1 at the start.
void SetSessionId(Dword session);

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
// one, as Windows does. Values keep their creation order. String data (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) is kept in UTF-16, as Windows keeps it: given here in the ANSI code page, or
// in UTF-16 as a Unicode installer writes it, and read back in the ANSI code page. Value names
// are kept in UTF-16 too, and reach RegEnumValueA by the code page's best fit.
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
void SetRegistryValueW(const std::string& keyPath, const std::string& name, Dword type,
                       const std::u16string& data);
// A value whose name, too, was written in UTF-16 (and may have no exact form in the code page).
void SetRegistryValueW(const std::string& keyPath, const std::u16string& name, Dword type,
                       const std::u16string& data);
// Opening the key for writing is refused, as for a user without the right to change it.
void DenyWriteAccess(const std::string& keyPath);
bool RegistryKeyExists(const std::string& keyPath);
std::vector<RegistryValue> RegistryValues(const std::string& keyPath);
// Every enumeration answers ERROR_MORE_DATA, as a value whose data keeps growing would.
void ReportMoreDataAlways(bool always);
// After a name that does not fit, the enumeration reports a data size larger than the data
// and its buffer, and changes the name size, as Japanese Windows 10 may.
void OverReportAfterNameOverflow(bool overReporting);

// The shell: special folders are real directories, named by their host paths in UTF-8 (a
// folder never set cannot be had), and the shell link object saves a small text file
// (target, working directory, description) where the real one saves a .lnk, so that a folder
// that does not exist fails the save.
void SetSpecialFolder(int csidl, const std::string& path);
// The file at path (a host path) also answers to shortName in its folder, as an NTFS file to
// its 8.3 alias; file names are found without case, as on Windows.
void SetShortName(const std::string& path, const std::string& shortName);
void SetCoInitializeResult(HResult result);
// The save's result when it would succeed: S_FALSE, say, instead of S_OK.
void SetSaveSuccessResult(HResult result);
struct ShownMessage {
    std::u16string text;
    std::u16string caption;
    unsigned style;
};
// The process's window station: visible to a user (WinSta0 of an interactive session), or not
// (a service's, SYSTEM's on a deployment agent).
void SetWindowStationVisible(bool visible);
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

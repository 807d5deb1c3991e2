// The end-to-end test program: FinishSetup.exe run against the registry, profile reader, shell
// link object and message boxes of the Windows it runs on (or any Wine), a case at a time.
#ifndef FINISHSETUP_TESTS_E2E_H
#define FINISHSETUP_TESTS_E2E_H

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Text: UTF-8 for reports, UTF-16 for the API, the ANSI code page where the program reads.
std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);
// The text in the ANSI code page; false when the code page has no exact form for it.
bool ToCodePage(const std::wstring& text, std::string* bytes);
std::string Hex(const std::string& bytes);
std::string FromHex(const std::string& hex);

// The other roles: the Wine runner's helper, and a stand-in that records how it was started.
int RunProbe(const std::wstring& commands, const std::wstring& results);
int RecordStart();
const wchar_t* const kStartedVariable = L"FINISHSETUP_E2E_STARTED";

// A process started with an exact command line and waited for. cwd, desktop: empty for the
// caller's; desktop else "station\desktop". Each message box it shows is read and dismissed.
struct Box {
    std::wstring text, caption;
    bool operator==(const Box&) const = default;
};
struct Run {
    std::string error;  // empty when the process ran to its end
    DWORD exitCode = 0;
    DWORD processId = 0;
    double seconds = 0;
    std::vector<Box> boxes;
};
Run StartAndWatch(const std::wstring& exe, const std::wstring& cwd, const std::wstring& commandLine,
                  const std::wstring& desktop, DWORD limitMs);
// The job every process StartAndWatch starts is in, which ends them when e2e.exe ends.
HANDLE Job();
// A copy without the Zone.Identifier stream, which would hold its start in a security prompt.
bool CopyExe(const std::wstring& from, const std::wstring& to);
// A copy of exe whose manifest asks for the ANSI code page of locale ("ja-JP"); false with
// GetLastError's cause.
bool CopyWithCodePage(const std::wstring& exe, const std::wstring& copy, const std::string& locale);
// A window station of its own, without WSF_VISIBLE, with a desktop: "station\desktop", or
// empty on failure. Closed by CloseHiddenDesktop.
std::wstring OpenHiddenDesktop();
void CloseHiddenDesktop();

// A shortcut as IShellLinkW reads it back.
struct Link {
    std::wstring target, workingDirectory, description;
    bool operator==(const Link&) const = default;
};
std::optional<Link> ReadLink(const std::wstring& path);
bool SaveLink(const std::wstring& path, const Link& link);

// Registry values as the wide API sees them: string data as its UTF-16 text with its zeros.
struct Value {
    std::wstring name;
    DWORD type;
    std::string data;
    bool operator==(const Value&) const = default;
};
REGSAM ViewFlag(int view);  // 32, 64 or 0 for the program's own
std::optional<std::vector<Value>> ReadKey(const std::wstring& key, int view);
LONG DeleteKey(const std::wstring& key, int view);

std::wstring SpecialFolder(int csidl);
bool FileExists(const std::wstring& path);
// A file of that name in its folder's listing: not a device ("NUL.lnk") or a stream.
bool IsFile(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool MakeFolders(const std::wstring& path);
// A folder for the run's own files, which only SYSTEM and Administrators can change; and
// whether a folder that exists is such a one, not one a user made.
bool MakeOwnFolder(const std::wstring& path);
bool IsOwnFolder(const std::wstring& path);
void RemoveTree(const std::wstring& path);
std::wstring ParentOf(const std::wstring& path);

#endif

// e2e.exe [--only TEXT[,TEXT...] | --case NAME...] [--details FOLDER] [--wine-as-root]
//         [--require-code-page-932] PATH\FinishSetup.exe        or: e2e.exe --restore
// Runs each case of the table against FinishSetup.exe inside the Windows it runs on, and undoes
// what each case changed (Journal); the cases that need code page 932 where the system's is
// another run again in copies of e2e.exe and the program whose manifests ask for it. The exit
// code counts the failures, and one more when the run is not elevated or fewer cases passed than
// the platform allows. --details: what the Wine runner cross-checks (Report); --restore: only
// undo what a stopped run left. e2e.exe --probe IN OUT is the Wine runner's helper (probe.cpp).
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cases.h"

namespace {

struct Options {
    std::vector<std::wstring> only, cases;
    std::wstring details, program;
    std::wstring subReport;  // in the code page 932 pass: where its lines go
    bool wineAsRoot = false, require932 = false, restore = false;
};

struct Tally {
    int passed = 0, failed = 0, skipped = 0, minimum = 0;
};

FILE* out = stdout;
FILE* details = nullptr;
bool onWine = false;
bool boxesVisible = true;
DWORD windowsBuild = 0;

void Say(const std::string& line, FILE* file = out)
{
    if (file != nullptr && std::fprintf(file, "%s\n", line.c_str()) >= 0) std::fflush(file);
}

// A case's line, counted by its first word.
void Count(const std::string& line, Tally* tally)
{
    Say(line);
    tally->passed += line.starts_with("ok ");
    tally->failed += line.starts_with("FAILED ");
    tally->skipped += line.starts_with("skipped ");
}

std::wstring UserName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    GetUserNameW(name, &size);
    return name;
}

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

// Elevated as the token says: a probe write under HKEY_LOCAL_MACHINE would succeed without it
// where Windows virtualizes the registry for a 32-bit process.
bool IsElevated()
{
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(GetCurrentProcessToken(), TokenElevation, &elevation,
                               sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// A folder of the run's own: the cases', or the code page 932 pass's.
const wchar_t* const kByManifest = L"FinishSetupE2E-932";
std::wstring OwnFolder(const wchar_t* name)
{
    wchar_t drive[8] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    return drive + (L"\\" + std::wstring(name));
}

// The platform, in the report's first lines (where say). A box shows only outside session 0
// (the services'), on a window station that is visible (WSF_VISIBLE).
void SayPlatform(bool elevated, bool say)
{
    typedef const char*(CDECL * WineVersionFunction)();
    OSVERSIONINFOW version = {sizeof version, 0, 0, 0, 0, {}};
    GetVersionExW(&version);  // the true version: the manifest names Windows 10 and 11
    auto wineVersion = reinterpret_cast<WineVersionFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    DWORD session = 0, size = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    USEROBJECTFLAGS flags = {};
    GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size);
    boxesVisible = session != 0 && (flags.dwFlags & WSF_VISIBLE);
    windowsBuild = version.dwBuildNumber;
    onWine = wineVersion != nullptr;
    if (!say) return;
    Say("code page: " + std::to_string(GetACP()) +
        "\nwindows: " + std::to_string(version.dwMajorVersion) + "." +
        std::to_string(version.dwMinorVersion) + "." + std::to_string(windowsBuild) +
        (IsWow64() ? ", a 32-bit process on 64-bit Windows" : "") + "\nuser: " + Utf8(UserName()) +
        (elevated ? ", elevated" : ", not elevated") + "\nsession: " + std::to_string(session) +
        ", window station " + (flags.dwFlags & WSF_VISIBLE ? "visible" : "not visible") +
        "\nwine: " + (onWine ? wineVersion() : "no"));
}

// Where each recorder started appends its line (RecordStart).
std::wstring StartedPath()
{
    return places.root + L"\\started.txt";
}

bool SetUpPlaces(const std::wstring& program)
{
    places.program = places.root + L"\\Cal Setup";
    places.elsewhere = places.root + L"\\elsewhere";
    places.cafe = places.root + L"\\Caf\u00e9 Setup";
    places.lookAlike = places.root + L"\\Cafe Setup";
    places.quote = places.root + L"\\Set\uff02 up";
    places.startup = SpecialFolder(CSIDL_STARTUP);
    places.desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    if (places.startup.empty() || places.desktop.empty() || !MakeOwnFolder(places.root))
        return false;
    for (const std::wstring& folder :
         {places.program, places.elsewhere, places.cafe, places.lookAlike, places.quote})
        if (!MakeFolders(folder)) return false;
    for (const std::wstring& folder : {places.elsewhere, places.lookAlike})
        WriteBytes(folder + L"\\ImInitial",
                   "[SYS]\r\nApplicationName=Wrong\r\nCRCompany=Wrong\r\n");
    SetEnvironmentVariableW(kStartedVariable, StartedPath().c_str());
    // The alias the file system gives a file of that name (Windows "CALEND~1.LNK" where 8.3
    // names are made, Wine a hashed "CALE~C4B.LNK"), which the same name in Startup gets too.
    std::wstring file = places.root + L"\\" + kUserFile;
    wchar_t alias[MAX_PATH] = {};
    WriteBytes(file, "");
    GetShortPathNameW(file.c_str(), alias, MAX_PATH);
    DeleteFileW(file.c_str());
    places.alias = std::wstring(alias).substr(std::wstring(alias).rfind(L'\\') + 1);
    places.alias = places.alias.substr(0, places.alias.rfind(L'.'));
    return std::ranges::all_of(std::vector{places.program, places.cafe, places.quote},
                               [&](auto& f) { return CopyExe(program, f + L"\\FinishSetup.exe"); });
}

std::string Unless(bool done, const std::string& failure)
{
    return done ? "" : failure;
}

// Where Windows keeps the path of each per-user known folder, which SHSetKnownFolderPath writes
// to redirect one and every new process reads.
const wchar_t* const kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Sets the user's Startup value there (type 0: removes it); true when done.
bool SetStartupValue(DWORD type, const void* data, DWORD size)
{
    return (type == 0 ? RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup")
                      : RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup", type, data,
                                        size)) == ERROR_SUCCESS;
}

// The link the program makes for app in folder.
std::wstring LinkPath(const std::wstring& folder, const std::wstring& app)
{
    return folder + L"\\" + app + L".lnk";
}

// Every change the run makes to the machine is written here, in the run's own folder, before it
// is made; Replay undoes them in reverse: after each case, on Ctrl+C or a closed console, and
// in the next run (or e2e.exe --restore) after a run that was killed. An entry is
//   key VIEW HEX      a key the run made under HKLM, deleted with all below it
//   file HEX          a file the run or the program could make, deleted
//   startup TYPE HEX  the user's Startup value under User Shell Folders, put back (TYPE 0: none)
// each ending in " ." when whole: a line cut short by a kill names no change that was made.
CRITICAL_SECTION journalLock;  // held while an entry is written and its change made

std::wstring JournalPath()
{
    return places.root + L"\\journal.txt";
}

// Writes the entry, then makes the change: what failed, or "".
std::string Change(
    const std::string& entry, const std::function<std::string()>& change = [] { return ""; })
{
    EnterCriticalSection(&journalLock);
    std::ofstream journal(JournalPath().c_str(), std::ios::app | std::ios::binary);
    bool written = (journal << entry << " .\n").flush().good();
    std::string failure = written ? change() : "cannot write " + Utf8(JournalPath());
    LeaveCriticalSection(&journalLock);
    return failure;
}

// Undoes one entry: what failed, or ""; *what names what was there to undo.
std::string Undo(const std::vector<std::string>& f, std::string* what)
{
    std::wstring path = FromUtf8(FromHex(f.back()));
    if (f[0] == "startup" && f.size() == 3) {
        *what = "the user's Startup folder";
        std::string data = FromHex(f[2]);
        return Unless(SetStartupValue(std::stoul(f[1]), data.data(), DWORD(data.size())),
                      "cannot put back " + *what);
    }
    int view = f[0] == "key" && f.size() == 3 ? std::atoi(f[1].c_str()) : -1;
    if (view < 0 && (f[0] != "file" || f.size() != 2)) return "not a journal entry: " + f[0];
    // A file by its own name only: an 8.3 alias or a device name would reach another.
    if (view >= 0 ? !ReadKey(path, view) : !IsFile(path)) return "";
    *what = (view >= 0 ? "HKLM\\" : "") + Utf8(path);
    if (view >= 0)
        return Unless(DeleteKey(path, view) == ERROR_SUCCESS || !ReadKey(path, view),
                      "cannot delete " + *what);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    for (int wait = 0; !DeleteFileW(path.c_str()) && IsFile(path) && wait < 100; ++wait)
        Sleep(100);  // a program the shell started may still be ending
    return Unless(!IsFile(path), "cannot delete " + *what);
}

// Undoes the journal, newest first; what could not be undone stays in it for the next run.
std::string Replay(std::vector<std::string>* restored = nullptr)
{
    EnterCriticalSection(&journalLock);
    std::vector<std::string> entries;
    std::istringstream lines(ReadBytes(JournalPath()));
    for (std::string line; std::getline(lines, line);) entries.insert(entries.begin(), line);
    DeleteFileW(JournalPath().c_str());
    std::string failures;
    for (const std::string& entry : entries) {
        std::istringstream words(entry);
        std::vector<std::string> f(std::istream_iterator<std::string>(words), {});
        if (f.empty() || f.back() != ".") continue;
        f.pop_back();
        std::string what, failure = Undo(f, &what);
        if (!failure.empty())
            failures += (failures.empty() ? "" : "; ") + Change(entry.substr(0, entry.size() - 2)) +
                        failure;
        if (failure.empty() && !what.empty() && restored != nullptr) restored->push_back(what);
    }
    LeaveCriticalSection(&journalLock);
    return failures;
}

// Ctrl+C, Ctrl+Break, a closed console, logoff or shutdown: what the run started is ended (the
// code page 932 pass too), and what the run changed is undone.
UINT consoleCodePage = 0;
BOOL WINAPI OnConsoleEvent(DWORD)
{
    EnterCriticalSection(&journalLock);  // no change is half made, and none is made after
    TerminateJobObject(Job(), 1);
    std::string failures = Replay();
    Say("stopped; " +
        (failures.empty() ? "what the run changed is undone" : "not undone: " + failures));
    if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
    ExitProcess(failures.empty() ? 3 : 4);
}

// The highest key of path that does not exist yet: the one to delete afterwards.
std::wstring FirstMissingKey(const std::wstring& path, int view)
{
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        if (!ReadKey(path.substr(0, at), view)) return path.substr(0, at);
    return ReadKey(path, view) ? L"" : path;
}

std::string WriteValue(const Write& w)
{
    HKEY key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, w.key.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | ViewFlag(w.view), nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return "cannot create " + Utf8(w.key);
    // Through the wide API: what the ANSI one stores for text that has an exact form in the
    // code page, which Check asks of Api::Ansi.
    std::string data =
        w.api == Api::Bytes
            ? w.bytes
            : std::string(reinterpret_cast<const char*>(w.text.c_str()), w.text.size() * 2 + 2);
    status =
        RegSetValueExW(key, w.name.c_str(), 0, w.type, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? "" : "cannot write " + Utf8(w.name);
}

std::string SettingsBytes(const Settings& settings, bool* exact)
{
    *exact = true;
    if (settings.encoding == Settings::Raw) return settings.raw;
    if (settings.encoding == Settings::Utf16)
        return "\xff\xfe" + std::string(reinterpret_cast<const char*>(settings.text.data()),
                                        settings.text.size() * 2);
    std::string bytes;
    *exact = ToCodePage(settings.text, &bytes);
    return bytes;
}

// The files a run of the program can make for the application: {folder}\{app}.lnk in each
// folder, as Windows resolves the name ("..\\..\\Cal" above it), and for a name with a colon the
// file before it, of which it would be a stream. Only these are the case's to delete.
std::vector<std::wstring> LinkFiles(const std::wstring& app)
{
    std::vector<std::wstring> files;
    for (const std::wstring& folder : {places.startup, places.desktop}) {
        wchar_t full[MAX_PATH * 2] = {};
        GetFullPathNameW(LinkPath(folder, app).c_str(), MAX_PATH * 2, full, nullptr);
        std::wstring file = full;
        files.push_back(file.substr(0, file.find(L':', 2)));
    }
    return files;
}

// Why a case cannot run here: what the platform is not (its code page among it: another pass
// may give that), or what the machine holds that a case must not touch.
enum class Skip { None, Platform, CodePage, MachineInUse };
struct Unmet {
    Skip kind = Skip::None;
    std::string reason;
};

Unmet Check(const Case& c)
{
    std::string acp = std::to_string(GetACP()), bytes;
    if (c.codePage != 0 && c.codePage != GetACP())
        return {Skip::CodePage,
                "needs code page " + std::to_string(c.codePage) + ", this is " + acp};
    if (c.wow64Only && !IsWow64())
        return {Skip::Platform, "needs a 32-bit program on 64-bit Windows"};
    if (c.userFile && c.app.find(L'~') == std::wstring::npos)
        return {Skip::Platform, "needs 8.3 names on the system volume"};
    if (c.userFile && FileExists(places.startup + L"\\" + kUserFile))
        return {Skip::MachineInUse, "the user has a file " + Utf8(kUserFile)};
    if (c.userOutsideCodePage && ToCodePage(UserName(), &bytes))
        return {Skip::CodePage, "needs a user whose name code page " + acp + " cannot hold"};
    bool exact = true;
    if (c.settings) SettingsBytes(*c.settings, &exact);
    for (const Write& w : c.registry)
        if (w.api == Api::Ansi)
            exact = exact && ToCodePage(w.name, &bytes) && ToCodePage(w.text, &bytes);
    if (!exact)
        return {Skip::CodePage, "its names or paths have no exact form in code page " + acp};
    for (const std::wstring& file : LinkFiles(c.app))
        if (IsFile(file)) return {Skip::MachineInUse, "the user has a file " + Utf8(file)};
    for (const Write& w : c.registry)
        if (ReadKey(w.key, w.view))
            return {Skip::MachineInUse, "HKLM\\" + Utf8(w.key) + " exists already"};
    return {};
}

// The Startup folder that does not exist, which some cases need, is one of the run's own: the
// user's Startup value under User Shell Folders points at it during the case and is put back
// after, so nothing in the user's own folder is moved or removed.
std::string RedirectStartup()
{
    BYTE was[2048];
    DWORD type = 0, size = sizeof was;
    if (RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Startup", RRF_RT_ANY | RRF_NOEXPAND, &type,
                     was, &size) != ERROR_SUCCESS)
        type = size = 0;
    std::wstring path = places.startup;
    return Change("startup " + std::to_string(type) + " " +
                      Hex(std::string(reinterpret_cast<char*>(was), size)),
                  [&] {
                      return Unless(
                          SetStartupValue(REG_EXPAND_SZ, path.c_str(), DWORD(path.size() * 2 + 2)),
                          "cannot point the Startup folder at " + Utf8(path));
                  });
}

std::vector<Started> TakeStarted()
{
    std::istringstream lines(ReadBytes(StartedPath()));
    DeleteFileW(StartedPath().c_str());
    std::vector<Started> starts;
    for (std::string module, cwd; lines >> module >> cwd;)
        starts.push_back({FromUtf8(FromHex(module)), FromUtf8(FromHex(cwd))});
    return starts;
}

// As the shell opens a Startup link at logon.
void OpenLink(const std::wstring& link)
{
    SHELLEXECUTEINFOW open = {};
    open.cbSize = sizeof open;
    // Without the zone check a copy marked as downloaded starts without the "Open File -
    // Security Warning" prompt; and the start is made before ShellExecuteExW returns.
    open.fMask =
        SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOZONECHECKS | SEE_MASK_NOASYNC;
    open.lpFile = link.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&open) && open.hProcess != nullptr) {
        WaitForSingleObject(open.hProcess, 60000);
        CloseHandle(open.hProcess);
    }
    // The shell may hand the start to another process: wait for the record.
    for (int wait = 0; wait < 600 && !FileExists(StartedPath()); ++wait) Sleep(100);
}

// What the Wine runner cross-checks: the case's code page, the program's process ids, the boxes
// read, and a copy of each link with what was read from it.
void Report(const Case& c, const Outcome& o, const Options& options, int index)
{
    std::string lines = "case " + c.name + "\ncodepage " + std::to_string(GetACP());
    for (const Run& run : o.runs) {
        lines += "\npid " + std::to_string(run.processId);
        for (const Box& box : run.boxes)
            lines += "\nbox " + Hex(Utf8(box.text)) + " " + Hex(Utf8(box.caption));
    }
    for (const std::wstring& folder : {places.startup, places.desktop}) {
        const std::optional<Link>& link = folder == places.startup ? o.startup : o.desktop;
        if (!link || options.details.empty()) continue;
        std::wstring copy = options.details + L"\\" + std::to_wstring(index) +
                            (folder == places.startup ? L"-startup.lnk" : L"-desktop.lnk");
        CopyFileW(LinkPath(folder, c.app).c_str(), copy.c_str(), FALSE);
        lines += "\nlink " + Hex(Utf8(copy)) + " " + Hex(Utf8(link->target)) + " " +
                 Hex(Utf8(link->workingDirectory)) + " " + Hex(Utf8(link->description));
    }
    Say(lines, details);
}

std::string Names(const std::vector<std::wstring>& paths)
{
    std::string names;
    for (const std::wstring& path : paths) names += " " + Utf8(path);
    return names.empty() ? " none" : names;
}

// What differs from what the case expects; "" when all holds.
std::string Judge(const Case& c, const Expected& e, const Outcome& o)
{
    std::vector<Box> boxes;
    for (const Run& run : o.runs) {
        if (!run.error.empty()) return run.error;
        if (run.exitCode != 0) return "exit code " + std::to_string(run.exitCode);
        if (c.hidden && run.seconds > 20) return "a run took " + std::to_string(run.seconds) + " s";
        boxes.insert(boxes.end(), run.boxes.begin(), run.boxes.end());
    }
    if (!e.boxes.empty() && !boxesVisible)
        return "no box can be seen here: session 0, or a window station that is not visible";
    std::string seen = boxes.empty() ? " none" : "";
    for (const Box& box : boxes) seen += " (" + Utf8(box.caption) + ": " + Utf8(box.text) + ")";
    if (boxes != e.boxes)
        return "message boxes:" + seen + "; expected " + std::to_string(e.boxes.size());
    if (!(o.entry == e.entry))
        return "uninstall entry:" + Describe(o.entry) + "; expected:" + Describe(e.entry);
    std::vector<std::wstring> made;
    if (e.startup) made.push_back(LinkPath(places.startup, c.app));
    if (e.desktop) made.push_back(LinkPath(places.desktop, c.app));
    std::sort(made.begin(), made.end());
    if (e.checkLinks && !(o.startup == e.startup && o.desktop == e.desktop))
        return "links: " + Describe(o.startup) + ", " + Describe(o.desktop) + "; expected " +
               Describe(e.startup) + ", " + Describe(e.desktop);
    if (e.checkLinks && !(o.newFiles == made))
        return "files made:" + Names(o.newFiles) + "; expected:" + Names(made);
    if (!o.startupFolderExists) return "the Startup folder is not there";
    seen = o.started.empty() ? " nothing" : "";
    for (const Started& s : o.started) seen += " (" + Utf8(s.module) + ", " + Utf8(s.cwd) + ")";
    if (!(o.started == e.started)) return "started:" + seen;
    if (c.userFile && ReadBytes(places.startup + L"\\" + kUserFile) != "the user's")
        return "the user's " + Utf8(kUserFile) + " was changed";
    if (e.otherEntry && !(ReadKey(e.otherEntry->first, 0) == e.otherEntry->second))
        return Utf8(e.otherEntry->first) + ":" + Describe(ReadKey(e.otherEntry->first, 0));
    return "";
}

struct Verdict {
    std::string failure, note;
};

// What Windows does; on Wine, what Wine does instead where the case names the difference.
Verdict Judge(const Case& c, const Outcome& o, const Options& options)
{
    std::string failure = Judge(c, c.expect, o);
    if (!failure.empty() && onWine && !c.wineDifference.empty() &&
        (!c.wineDifferenceAsRoot || options.wineAsRoot) && Judge(c, Typical(c.app), o).empty())
        return {"", "as on Wine: " + c.wineDifference};
    std::replace(failure.begin(), failure.end(), '\n', ' ');
    if (failure.empty() && c.hidden && !onWine)  // EnumWindows sees only e2e.exe's own desktop
        return {"",
                "no box on that window station can be seen from here: passed on the "
                "program's own outcome"};
    return {failure, ""};
}

// A file the case makes, journalled first.
std::string MakeFile(const std::wstring& path, const std::function<bool(const std::wstring&)>& make)
{
    return Change("file " + Hex(Utf8(path)),
                  [&] { return Unless(make(path), "cannot make " + Utf8(path)); });
}

std::string Prepare(const Case& c, const std::wstring& program)
{
    std::string failure;
    for (const Write& w : c.registry) {
        std::wstring first = FirstMissingKey(w.key, w.view);
        failure = first.empty() ? WriteValue(w)
                                : Change("key " + std::to_string(w.view) + " " + Hex(Utf8(first)),
                                         [&] { return WriteValue(w); });
        if (!failure.empty()) return failure;
    }
    bool exact = true;
    if (c.settings)
        failure += MakeFile(program + L"\\" + c.settingsName, [&](auto& path) {
            return WriteBytes(path, SettingsBytes(*c.settings, &exact));
        });
    for (const std::wstring& path : c.recorders)
        failure += MakeFile(
            path, [](auto& p) { return MakeFolders(ParentOf(p)) && CopyExe(SelfPath(), p); });
    if (c.readOnlyLink)
        failure += MakeFile(LinkPath(places.startup, c.app), [](auto& path) {
            return SaveLink(path, OldLink()) &&
                   SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        });
    if (c.userFile)
        failure += MakeFile(places.startup + L"\\" + kUserFile,
                            [](auto& path) { return WriteBytes(path, "the user's"); });
    for (const std::wstring& file : LinkFiles(c.app)) failure += Change("file " + Hex(Utf8(file)));
    return failure + (c.missingStartupFolder ? RedirectStartup() : "");
}

Verdict RunCase(const Case& c, const Options& options, int index)
{
    std::wstring userStartup = places.startup;
    if (c.missingStartupFolder) places.startup = places.root + L"\\Startup";
    std::wstring program = c.programDir.empty() ? places.program : c.programDir;
    Verdict verdict = {Prepare(c, program), ""};
    TakeStarted();
    std::wstring desktop = c.hidden && verdict.failure.empty() ? OpenHiddenDesktop() : L"";
    if (c.hidden && desktop.empty()) verdict.failure = "cannot make a hidden window station";
    if (verdict.failure.empty()) {
        Outcome o;
        std::wstring command =
            c.command.empty() ? L"\"" + program + L"\\FinishSetup.exe\" -normal" : c.command;
        for (int i = 0; i < c.runs; ++i)
            o.runs.push_back(StartAndWatch(program + L"\\FinishSetup.exe",
                                           c.cwd.empty() ? program : c.cwd, command, desktop,
                                           60000));
        if (c.hidden) CloseHiddenDesktop();
        o.entry = ReadKey(c.entryKey.empty() ? EntryKey(c.app) : c.entryKey, c.entryView);
        o.startup = ReadLink(LinkPath(places.startup, c.app));
        o.desktop = ReadLink(LinkPath(places.desktop, c.app));
        o.startupFolderExists = FileExists(places.startup);
        for (const std::wstring& file : LinkFiles(c.app))
            if (IsFile(file)) o.newFiles.push_back(file);
        std::ranges::sort(o.newFiles);
        if (c.runUninstall && o.entry) {  // as Programs and Features starts it: no module name
            for (const Value& v : *o.entry)
                if (v.name == L"UninstallString")
                    StartAndWatch(L"", places.root,
                                  std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()),
                                               v.data.size() / 2 - 1),
                                  L"", 60000);
        }
        if (c.openStartupLink) OpenLink(LinkPath(places.startup, c.app));
        o.started = TakeStarted();
        Report(c, o, options, index);
        verdict = Judge(c, o, options);
    }
    std::string cleanup = Replay();
    places.startup = userStartup;
    if (!cleanup.empty())
        verdict.failure += std::string(verdict.failure.empty() ? "" : "; ") + "cleanup: " + cleanup;
    return verdict;
}

bool Selected(const Case& c, const Options& options)
{
    std::wstring name = FromUtf8(c.name);
    if (!options.cases.empty()) return std::ranges::count(options.cases, name) > 0;
    return options.only.empty() || std::ranges::any_of(options.only, [&](const std::wstring& text) {
               return name.find(text) != std::wstring::npos;
           });
}

// Ends what still runs from the folder: a program that a stopped run started in the moment
// before it joined the run's job (Job) would hold its exe there. Only the run's copies can be
// there (MakeOwnFolder).
void EndProgramsIn(const std::wstring& folder)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                        entry.th32ProcessID);
        wchar_t image[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (process != nullptr && entry.th32ProcessID != GetCurrentProcessId() &&
            QueryFullProcessImageNameW(process, 0, image, &size) &&
            CompareStringOrdinal(image, static_cast<int>(folder.size()) + 1,
                                 (folder + L"\\").c_str(), -1, TRUE) == CSTR_EQUAL &&
            TerminateProcess(process, 1))
            WaitForSingleObject(process, 10000);
        if (process != nullptr) CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// Removes a folder of the run's own; one a user made (and could have filled with a journal of
// their choosing, or a junction into the system) is left to the user.
bool RemoveOwnFolder(const std::wstring& folder)
{
    if (FileExists(folder) && !IsOwnFolder(folder)) {
        Say(Utf8(folder) + " was not made by an elevated run of e2e.exe: check it and remove it");
        return false;
    }
    for (int wait = 0; wait < 100 && (RemoveTree(folder), FileExists(folder)); ++wait) Sleep(100);
    if (FileExists(folder)) Say("cannot remove " + Utf8(folder));
    return !FileExists(folder);
}

// What a run that was stopped left (its journal), undone before anything else, and said.
bool Recover()
{
    std::vector<std::string> restored;
    bool own = IsOwnFolder(places.root);
    if (own) EndProgramsIn(places.root);
    std::string failures = own ? Replay(&restored) : "";
    for (const std::string& what : restored) Say("restored what a stopped run left: " + what);
    if (!failures.empty()) Say("cannot restore what a stopped run left: " + failures);
    return failures.empty() && RemoveOwnFolder(places.root);
}

// Copies of e2e.exe and the program whose manifests ask for ja-JP: "" when they get code page
// 932 here, else why not.
std::string PrepareByManifest(const std::wstring& program)
{
    std::wstring folder = OwnFolder(kByManifest);
    if (!RemoveOwnFolder(folder) || !MakeOwnFolder(folder) ||
        !CopyWithCodePage(SelfPath(), folder + L"\\e2e.exe", "ja-JP") ||
        !CopyWithCodePage(program, folder + L"\\FinishSetup.exe", "ja-JP"))
        return "the copies could not be made, error " + std::to_string(GetLastError());
    Run run = StartAndWatch(folder + L"\\e2e.exe", folder,
                            L"\"" + folder + L"\\e2e.exe\" --code-page", L"", 120000);
    if (!run.error.empty()) return "a copy did not run: " + run.error;
    return run.exitCode == 932
               ? ""
               : "a copy asking for ja-JP gets code page " + std::to_string(run.exitCode);
}

bool ParseOptions(int count, wchar_t** args, Options* options)
{
    for (int i = 1; i < count; ++i) {
        std::wstring arg = args[i];
        bool value = i + 1 < count;
        if (arg == L"--only" && value) {
            std::wistringstream list(args[++i]);
            for (std::wstring text; std::getline(list, text, L',');) options->only.push_back(text);
        } else if (arg == L"--case" && value) {
            options->cases.push_back(args[++i]);
        } else if ((arg == L"--details" || arg == L"--sub-report") && value) {
            (arg == L"--details" ? options->details : options->subReport) = args[++i];
        } else if (arg == L"--wine-as-root" || arg == L"--require-code-page-932" ||
                   arg == L"--restore") {
            (arg == L"--restore"        ? options->restore
             : arg == L"--wine-as-root" ? options->wineAsRoot
                                        : options->require932) = true;
        } else if (options->program.empty() && arg.rfind(L"--", 0) != 0) {
            wchar_t full[MAX_PATH] = {};  // as LoadLibraryExW and the copies need it
            GetFullPathNameW(arg.c_str(), MAX_PATH, full, nullptr);
            options->program = full;
        } else {
            return false;
        }
    }
    return options->restore == options->program.empty();
}

// Runs the cases selected, each where this platform allows it. Returns those that need code
// page 932 where the system's is another, when byManifest can give it; where it cannot but
// must932, they count toward the minimum, unrun.
std::vector<std::wstring> RunSelected(const Options& options, bool elevated, bool byManifest,
                                      bool must932, Tally* tally)
{
    std::vector<std::wstring> need932;
    int index = 0;
    for (const Case& c : MakeCases()) {
        ++index;
        if (!Selected(c, options)) continue;
        Unmet unmet =
            elevated ? Check(c) : Unmet{Skip::MachineInUse, "needs an elevated run, to write HKLM"};
        bool by932 = unmet.kind == Skip::CodePage && (c.codePage == 0 || c.codePage == 932);
        if (by932 && byManifest) {
            need932.push_back(FromUtf8(c.name));
            continue;
        }
        if (unmet.kind == Skip::None || unmet.kind == Skip::MachineInUse || (by932 && must932))
            ++tally->minimum;
        if (unmet.kind != Skip::None) {
            Count("skipped          " + c.name + " -- " + unmet.reason, tally);
            continue;
        }
        ULONGLONG started = GetTickCount64();
        Verdict verdict = RunCase(c, options, index);
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%5.1f s",
                      static_cast<double>(GetTickCount64() - started) / 1000);
        bool ok = verdict.failure.empty();
        Count(std::string(ok ? "ok      " : "FAILED  ") + seconds + "  " + c.name +
                  (ok ? (verdict.note.empty() ? "" : " -- " + verdict.note)
                      : " -- " + verdict.failure),
              tally);
    }
    if (!FileExists(JournalPath())) RemoveOwnFolder(places.root);  // else kept, to undo later
    return need932;
}

// The cases that need code page 932, where the system's is another: run by a copy of e2e.exe
// against a copy of the program, both asking for it, so that e2e.exe writes the settings and
// reads the links' ANSI paths in it too. Its lines join this report.
void RunByManifest(const std::vector<std::wstring>& names, const Options& options, Tally* tally)
{
    std::wstring folder = OwnFolder(kByManifest), report = folder + L"\\report.txt";
    std::wstring line = L"\"" + folder + L"\\e2e.exe\" --sub-report \"" + report + L"\"";
    if (!options.details.empty()) line += L" --details \"" + options.details + L"\"";
    if (options.wineAsRoot) line += L" --wine-as-root";
    for (const std::wstring& name : names) line += L" --case \"" + name + L"\"";
    Run run = StartAndWatch(folder + L"\\e2e.exe", L"",
                            line + L" \"" + folder + L"\\FinishSetup.exe\"", L"", 1500000);
    std::istringstream lines(ReadBytes(report));
    bool finished = false;
    for (std::string got; std::getline(lines, got);) {
        int minimum = 0;
        finished = std::sscanf(got.c_str(), "minimum %d", &minimum) == 1;
        if (finished) tally->minimum += minimum;
        if (!finished) Count(got, tally);
    }
    if (!finished)
        Count("FAILED           code page 932 by manifest -- the pass did not finish: " +
                  run.error + " exit code " + std::to_string(run.exitCode),
              tally);
}

int RunCases(const Options& options)
{
    bool sub = !options.subReport.empty(), elevated = IsElevated();
    if (sub && (out = _wfopen(options.subReport.c_str(), L"wb")) == nullptr) return 1;
    SayPlatform(elevated, !sub);
    places.root = OwnFolder(L"FinishSetupE2E");
    bool recovered = Recover();
    if (!recovered || options.restore) {
        bool done = recovered && RemoveOwnFolder(OwnFolder(kByManifest));
        Say(done ? "nothing a run changed is left" : "not restored: see above");
        return done ? 0 : 1;
    }
    Tally tally;
    // Windows honours a locale in activeCodePage from build 20348 (Server 2022, Windows 11): there
    // a copy that cannot have code page 932 is a failure, not a reason to skip.
    bool must932 = options.require932 || (!onWine && windowsBuild >= 20348), byManifest = false;
    if (!sub && GetACP() != 932) {
        std::string why = PrepareByManifest(options.program);
        byManifest = why.empty();
        std::string seen = " (Windows build " + std::to_string(windowsBuild) + ")";
        if (byManifest)
            Say("code page 932 by manifest: yes, for the cases that need it");
        else if (must932)
            Count("FAILED           code page 932 by manifest -- " + why + seen, &tally);
        else
            Say("code page 932 by manifest: no, " + why + seen + "; Windows 10 takes only UTF-8");
    }
    if (!SetUpPlaces(options.program)) {
        Say("cannot set up " + Utf8(places.root) + " with " + Utf8(options.program));
        return 1;
    }
    if (!options.details.empty() && MakeFolders(options.details))
        details = _wfopen((options.details + L"\\details.txt").c_str(), sub ? L"ab" : L"wb");
    std::vector<std::wstring> need932 = RunSelected(options, elevated, byManifest, must932, &tally);
    if (details != nullptr) std::fclose(details);
    if (sub) {  // the pass that started this one counts its lines and checks the folders
        Say("minimum " + std::to_string(tally.minimum));
        return 0;
    }
    if (!need932.empty()) RunByManifest(need932, options, &tally);
    RemoveOwnFolder(OwnFolder(kByManifest));
    for (const std::wstring& folder : {places.root, OwnFolder(kByManifest)})
        if (FileExists(folder))
            Count("FAILED           cleanup -- " + Utf8(folder) + " could not be removed", &tally);
    Say("minimum: " + std::to_string(tally.minimum) + " cases must pass here" +
        (elevated ? "" : "; this run is not elevated (run it from an administrator's prompt)"));
    Say(std::to_string(tally.passed) + " passed, " + std::to_string(tally.failed) + " failed, " +
        std::to_string(tally.skipped) + " skipped");
    bool short_ = !elevated || tally.passed == 0 || tally.passed < tally.minimum;
    return tally.failed + (short_ ? 1 : 0);
}

}  // namespace

int main()
{
    std::wstring self = SelfPath();  // under another name, a stand-in for another program
    if (lstrcmpiW(self.substr(self.rfind(L'\\') + 1).c_str(), L"e2e.exe") != 0)
        return RecordStart();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 4 && std::wstring(args[1]) == L"--probe") return RunProbe(args[2], args[3]);
    if (count == 2 && std::wstring(args[1]) == L"--code-page") return static_cast<int>(GetACP());
    Options options;
    if (!ParseOptions(count, args, &options)) {
        Say("usage: e2e.exe [--only TEXT[,TEXT...] | --case NAME...] [--details FOLDER] "
            "[--wine-as-root] [--require-code-page-932] PATH\\FinishSetup.exe\n"
            "       e2e.exe --restore");
        return 2;
    }
    InitializeCriticalSection(&journalLock);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    consoleCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    CoInitialize(nullptr);
    int failures = RunCases(options);
    CoUninitialize();
    if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
    return failures;
}

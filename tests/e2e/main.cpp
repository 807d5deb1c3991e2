// e2e.exe [--only TEXT[,TEXT...] | --case NAME...] [--details FILE] [--artifacts FOLDER]
//         [--wine-as-root] PATH\FinishSetup.exe
//
// Runs each case of the table against FinishSetup.exe inside the Windows it runs on, and removes
// what each case made. Where the code page is not 932, the cases that need it run again in copies
// of e2e.exe and the program whose manifests ask for it. One line a case ("ok", "FAILED" or
// "skipped", its name, then why or a note after " -- "), the least number of cases that must
// pass here, and "N passed, N failed, N skipped". The exit code counts the failures, and one more
// when the run is not elevated or fewer cases passed than that least number. --only: the cases
// whose names hold one of the texts; --case: the case of that name. --details: for the Wine
// runner's cross-checks, each case's code page, process ids, boxes and links (copied to
// --artifacts); --wine-as-root: the runner says that Wine runs as root. e2e.exe --probe IN OUT is
// the runner's helper (probe.cpp); copied under another name, it records how it was started.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "cases.h"

namespace {

struct Options {
    std::vector<std::wstring> only, cases;
    std::wstring details, artifacts, program;
    std::wstring subReport;  // the code page 932 pass: its lines and tally go there
    bool wineAsRoot = false;
};

// What a run saw: its counts, and what the platform it runs on allows.
struct Tally {
    int passed = 0, failed = 0, skipped = 0, minimum = 0;
};

FILE* out = stdout;
FILE* details = nullptr;
bool onWine = false;
bool boxesVisible = true;
const wchar_t* const kByManifest = L"FinishSetupE2E-932";

void Line(FILE* file, const std::string& line)
{
    if (file == nullptr) return;
    std::fprintf(file, "%s\n", line.c_str());
    std::fflush(file);
}

void Say(const std::string& line)
{
    Line(out, line);
}

void Detail(const std::string& line)
{
    Line(details, line);
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
    HANDLE token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring SystemDrive()
{
    wchar_t drive[8] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    return drive;
}

// The platform, as the report's first lines give it (where say). A box shows only in a session
// a user can reach, on a window station that is visible (WSF_VISIBLE); session 0 is the
// services'.
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
    onWine = wineVersion != nullptr;
    if (!say) return;
    Say("code page: " + std::to_string(GetACP()));
    Say("windows: " + std::to_string(version.dwMajorVersion) + "." +
        std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) +
        (IsWow64() ? ", a 32-bit process on 64-bit Windows" : ""));
    Say("user: " + Utf8(UserName()) + (elevated ? ", elevated" : ", not elevated"));
    Say("session: " + std::to_string(session) + ", window station " +
        (flags.dwFlags & WSF_VISIBLE ? "visible" : "not visible"));
    Say(std::string("wine: ") + (wineVersion != nullptr ? wineVersion() : "no"));
}

// The cases' own folders, and the program copied where they start it.
bool SetUpPlaces(const std::wstring& program)
{
    places.root = SystemDrive() + L"\\FinishSetupE2E";
    places.program = places.root + L"\\Cal Setup";
    places.elsewhere = places.root + L"\\elsewhere";
    places.cafe = places.root + L"\\Caf\u00e9 Setup";
    places.lookAlike = places.root + L"\\Cafe Setup";
    places.startup = SpecialFolder(CSIDL_STARTUP);
    places.desktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
    RemoveTree(places.root);
    for (const std::wstring& folder :
         {places.program, places.elsewhere, places.cafe, places.lookAlike})
        if (!MakeFolders(folder)) return false;
    for (const std::wstring& folder : {places.elsewhere, places.lookAlike})
        WriteBytes(folder + L"\\ImInitial",
                   "[SYS]\r\nApplicationName=Wrong\r\nCRCompany=Wrong\r\n");
    SetEnvironmentVariableW(kStartedVariable, (places.root + L"\\started.txt").c_str());
    return CopyFileW(program.c_str(), (places.program + L"\\FinishSetup.exe").c_str(), FALSE) &&
           CopyFileW(program.c_str(), (places.cafe + L"\\FinishSetup.exe").c_str(), FALSE);
}

// What a case made, undone in reverse order; each step says what it could not undo.
typedef std::vector<std::function<std::string()>> Undo;

std::string UndoAll(Undo& undo)
{
    std::string failures;
    for (auto step = undo.rbegin(); step != undo.rend(); ++step) {
        std::string failure = (*step)();
        if (!failure.empty()) failures += (failures.empty() ? "" : "; ") + failure;
    }
    return failures;
}

std::string Unless(bool done, const std::string& failure)
{
    return done ? "" : failure;
}

std::string Removed(const std::wstring& path)
{
    for (int wait = 0; !DeleteFileW(path.c_str()) && FileExists(path) && wait < 100; ++wait)
        Sleep(100);  // a program the shell started may still be ending
    return Unless(!FileExists(path), "cannot delete " + Utf8(path));
}

// The highest key of path that does not exist yet: the one to delete afterwards.
std::wstring FirstMissingKey(const std::wstring& path, int view)
{
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        if (!KeyExists(path.substr(0, at), view)) return path.substr(0, at);
    return KeyExists(path, view) ? L"" : path;
}

std::string WriteValue(const Write& w)
{
    HKEY key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, w.key.c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS | ViewFlag(w.view), nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return "cannot create " + Utf8(w.key);
    std::string name, data;
    if (w.api == Api::Ansi) {
        ToCodePage(w.name, &name);
        ToCodePage(w.text, &data);
        data.push_back('\0');
        status =
            RegSetValueExA(key, name.c_str(), 0, w.type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size()));
    } else {
        std::wstring text = w.text + L'\0';
        data = w.api == Api::Bytes
                   ? w.bytes
                   : std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
        status = RegSetValueExW(key, w.name.c_str(), 0, w.type,
                                reinterpret_cast<const BYTE*>(data.data()),
                                static_cast<DWORD>(data.size()));
    }
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
    if (c.userOutsideCodePage && ToCodePage(UserName(), &bytes))
        return {Skip::CodePage, "needs a user whose name code page " + acp + " cannot hold"};
    bool exact = true;
    if (c.settings) SettingsBytes(*c.settings, &exact);
    for (const Write& w : c.registry)
        if (w.api == Api::Ansi)
            exact = exact && ToCodePage(w.name, &bytes) && ToCodePage(w.text, &bytes);
    if (!exact)
        return {Skip::CodePage, "its names or paths have no exact form in code page " + acp};
    for (const std::wstring& folder : {places.startup, places.desktop})
        if (IsFile(folder + L"\\" + c.app + L".lnk"))
            return {Skip::MachineInUse, "the user has a link " + Utf8(c.app) + ".lnk"};
    for (const Write& w : c.registry)
        if (KeyExists(w.key, w.view))
            return {Skip::MachineInUse, "HKLM\\" + Utf8(w.key) + " exists already"};
    return {};
}

// The start of every file name the program could give a link of this application: its last
// path component, up to a colon (a stream's). Only such files are the case's.
std::wstring Stem(const std::wstring& app)
{
    std::wstring stem = app.substr(app.find_last_of(L"\\/") + 1);
    return stem.substr(0, stem.find(L':'));
}

// The files of the app's name in the folders where a link named wrongly could land: the two
// folders, and two levels up.
std::set<std::wstring> Snapshot(const std::wstring& app)
{
    std::set<std::wstring> folders, files;
    for (std::wstring folder : {places.startup, places.desktop})
        for (int level = 0; level < 3 && !folder.empty(); ++level, folder = ParentOf(folder))
            folders.insert(folder);
    std::wstring stem = Stem(app);
    for (const std::wstring& folder : folders)
        for (const std::wstring& name : FilesIn(folder))
            if (CompareStringOrdinal(
                    name.c_str(), static_cast<int>(std::min(name.size(), stem.size())),
                    stem.c_str(), static_cast<int>(stem.size()), TRUE) == CSTR_EQUAL)
                files.insert(folder + L"\\" + name);
    return files;
}

// Moves what the Startup folder holds aside, its hidden desktop.ini among it, and removes the
// folder; afterwards everything goes back as it was, attributes and all.
std::string EmptyStartupFolder(Undo& undo)
{
    std::wstring aside = places.root + L"\\startup-aside";
    DWORD attributes = GetFileAttributesW(places.startup.c_str());
    auto moved = std::make_shared<std::vector<std::pair<std::wstring, DWORD>>>();
    if (!MakeFolders(aside)) return "cannot make " + Utf8(aside);
    undo.push_back([aside, attributes, moved]() {
        MakeFolders(places.startup);
        std::string failures;
        for (const auto& entry : *moved) {
            std::wstring back = places.startup + L"\\" + entry.first;
            if (!MoveFileExW((aside + L"\\" + entry.first).c_str(), back.c_str(),
                             MOVEFILE_COPY_ALLOWED) ||
                !SetFileAttributesW(back.c_str(), entry.second))
                failures +=
                    std::string(failures.empty() ? "" : "; ") + "cannot put back " + Utf8(back);
        }
        SetFileAttributesW(places.startup.c_str(), attributes);
        return failures;
    });
    for (const std::wstring& name : FilesIn(places.startup, true)) {
        std::wstring path = places.startup + L"\\" + name;
        moved->push_back({name, GetFileAttributesW(path.c_str())});
        if (!MoveFileExW(path.c_str(), (aside + L"\\" + name).c_str(), MOVEFILE_COPY_ALLOWED)) {
            moved->pop_back();
            return "cannot move " + Utf8(path) + " aside";
        }
    }
    SetFileAttributesW(places.startup.c_str(), FILE_ATTRIBUTE_NORMAL);  // may be read-only
    return Unless(RemoveDirectoryW(places.startup.c_str()) && !FileExists(places.startup),
                  "cannot remove the Startup folder: error " + std::to_string(GetLastError()));
}

std::vector<Started> TakeStarted()
{
    std::wstring record = places.root + L"\\started.txt";
    std::string text = ReadBytes(record);
    DeleteFileW(record.c_str());
    std::vector<Started> starts;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = text.substr(at, end - at);
        std::size_t first = line.find(' '), second = line.find(' ', first + 1),
                    third = line.find(' ', second + 1);
        starts.push_back({FromUtf8(FromHex(line.substr(first + 1, second - first - 1))),
                          FromUtf8(FromHex(line.substr(second + 1, third - second - 1)))});
    }
    return starts;
}

// As the shell opens a Startup link at logon.
void OpenLink(const std::wstring& link)
{
    SHELLEXECUTEINFOW open = {};
    open.cbSize = sizeof open;
    open.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    open.lpFile = link.c_str();
    open.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&open) && open.hProcess != nullptr) {
        WaitForSingleObject(open.hProcess, 60000);
        CloseHandle(open.hProcess);
    }
    // The shell may hand the start to another process: wait for the record.
    for (int wait = 0; wait < 600 && !FileExists(places.root + L"\\started.txt"); ++wait)
        Sleep(100);
}

void Report(const Case& c, const Outcome& o, const Options& options, int index)
{
    Detail("case " + c.name);
    Detail("codepage " + std::to_string(GetACP()));
    for (const Run& run : o.runs) {
        char pid[16];
        std::snprintf(pid, sizeof pid, "%04lx", static_cast<unsigned long>(run.processId));
        Detail(std::string("pid ") + pid);
        for (const Box& box : run.boxes)
            Detail("box " + Hex(Utf8(box.text)) + " " + Hex(Utf8(box.caption)));
    }
    for (const std::wstring& folder : {places.startup, places.desktop}) {
        const std::optional<Link>& link = folder == places.startup ? o.startup : o.desktop;
        if (!link || options.artifacts.empty()) continue;
        std::wstring copy = options.artifacts + L"\\" + std::to_wstring(index) +
                            (folder == places.startup ? L"-startup.lnk" : L"-desktop.lnk");
        CopyFileW((folder + L"\\" + c.app + L".lnk").c_str(), copy.c_str(), FALSE);
        Detail("link " + Hex(Utf8(copy)) + " " + Hex(Utf8(link->target)) + " " +
               Hex(Utf8(link->workingDirectory)) + " " + Hex(Utf8(link->description)));
    }
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
    if (boxes.size() != e.boxes.size() ||
        !std::equal(boxes.begin(), boxes.end(), e.boxes.begin(), [](const Box& a, const Box& b) {
            return a.text == b.text && a.caption == b.caption;
        })) {
        std::string seen;
        for (const Box& box : boxes) seen += " (" + Utf8(box.caption) + ": " + Utf8(box.text) + ")";
        return "message boxes:" + (seen.empty() ? " none" : seen) + "; expected " +
               std::to_string(e.boxes.size());
    }
    if (!(o.entry == e.entry))
        return "uninstall entry:" + Describe(o.entry) + "; expected:" + Describe(e.entry);
    std::vector<std::wstring> made;
    if (e.startup && !c.readOnlyLink) made.push_back(places.startup + L"\\" + c.app + L".lnk");
    if (e.desktop) made.push_back(places.desktop + L"\\" + c.app + L".lnk");
    std::sort(made.begin(), made.end());
    if (e.checkLinks && !(o.startup == e.startup && o.desktop == e.desktop))
        return "links: " + Describe(o.startup) + ", " + Describe(o.desktop) + "; expected " +
               Describe(e.startup) + ", " + Describe(e.desktop);
    if (e.checkLinks && !(o.newFiles == made))
        return "files made:" + Names(o.newFiles) + "; expected:" + Names(made);
    if (!o.startupFolderExists) return "the Startup folder is not there";
    if (!(o.started == e.started)) {
        std::string seen;
        for (const Started& s : o.started) seen += " (" + Utf8(s.module) + ", " + Utf8(s.cwd) + ")";
        return "started:" + (seen.empty() ? " nothing" : seen);
    }
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

std::string Prepare(const Case& c, const std::wstring& program, Undo& undo)
{
    for (const Write& w : c.registry) {
        std::wstring first = FirstMissingKey(w.key, w.view);
        if (!first.empty())
            undo.push_back([first, w] {
                return Unless(
                    DeleteKey(first, w.view) == ERROR_SUCCESS || !KeyExists(first, w.view),
                    "cannot delete HKLM\\" + Utf8(first));
            });
        std::string failure = WriteValue(w);
        if (!failure.empty()) return failure;
    }
    if (c.settings) {
        bool exact = true;
        std::wstring path = program + L"\\" + c.settingsName;
        WriteBytes(path, SettingsBytes(*c.settings, &exact));
        undo.push_back([path] { return Removed(path); });
    }
    for (const std::wstring& path : c.recorders) {
        MakeFolders(ParentOf(path));
        CopyFileW(SelfPath().c_str(), path.c_str(), FALSE);
        undo.push_back([path] { return Removed(path); });
    }
    if (c.readOnlyLink) {
        std::wstring path = places.startup + L"\\" + c.app + L".lnk";
        if (!SaveLink(path, OldLink())) return "cannot save the read-only link";
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        undo.push_back([path] {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            return Removed(path);
        });
    }
    return c.removeStartupFolder ? EmptyStartupFolder(undo) : "";
}

Verdict RunCase(const Case& c, const Options& options, int index)
{
    Undo undo;
    std::wstring program = c.programDir.empty() ? places.program : c.programDir;
    Verdict verdict = {Prepare(c, program, undo), ""};
    std::set<std::wstring> before = Snapshot(c.app);
    undo.push_back([&c, before] {  // the files of the app's name that the runs made
        std::string failures;
        for (const std::wstring& file : Snapshot(c.app))
            if (!before.count(file)) failures += Removed(file);
        return failures;
    });
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
        o.startup = ReadLink(places.startup + L"\\" + c.app + L".lnk");
        o.desktop = ReadLink(places.desktop + L"\\" + c.app + L".lnk");
        o.startupFolderExists = FileExists(places.startup);
        for (const std::wstring& file : Snapshot(c.app))
            if (!before.count(file)) o.newFiles.push_back(file);
        if (c.runUninstall && o.entry) {  // as Programs and Features starts it: no module name
            for (const Value& v : *o.entry)
                if (v.name == L"UninstallString")
                    StartAndWatch(L"", places.root,
                                  std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()),
                                               v.data.size() / 2 - 1),
                                  L"", 60000);
        }
        if (c.openStartupLink) OpenLink(places.startup + L"\\" + c.app + L".lnk");
        o.started = TakeStarted();
        Report(c, o, options, index);
        verdict = Judge(c, o, options);
    }
    std::string cleanup = UndoAll(undo);
    if (!cleanup.empty())
        verdict.failure += std::string(verdict.failure.empty() ? "" : "; ") + "cleanup: " + cleanup;
    return verdict;
}

bool Selected(const Case& c, const Options& options)
{
    std::wstring name = FromUtf8(c.name);
    if (!options.cases.empty())
        return std::find(options.cases.begin(), options.cases.end(), name) != options.cases.end();
    return options.only.empty() ||
           std::any_of(options.only.begin(), options.only.end(), [&](const std::wstring& text) {
               return name.find(text) != std::wstring::npos;
           });
}

// The cases that need code page 932, where the system's is another: run by a copy of e2e.exe
// against a copy of the program, both with manifests that ask for it (so that e2e.exe writes
// the settings and ANSI values in that code page too). Its lines join this report.
void RunByManifest(const std::vector<std::string>& names, const Options& options, Tally* tally)
{
    std::wstring folder = SystemDrive() + L"\\" + kByManifest, report = folder + L"\\report.txt";
    std::wstring line = L"\"" + folder + L"\\e2e.exe\" --sub-report \"" + report + L"\"";
    if (!options.details.empty()) line += L" --details \"" + options.details + L"\"";
    if (!options.artifacts.empty()) line += L" --artifacts \"" + options.artifacts + L"\"";
    if (options.wineAsRoot) line += L" --wine-as-root";
    for (const std::string& name : names) line += L" --case \"" + FromUtf8(name) + L"\"";
    line += L" \"" + folder + L"\\FinishSetup.exe\"";
    Run run = StartAndWatch(folder + L"\\e2e.exe", folder, line, L"", 3600000);
    std::string text = ReadBytes(report);
    bool tallied = false;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string got = text.substr(at, end - at);
        Tally sub;
        if (std::sscanf(got.c_str(), "tally %d %d %d %d", &sub.passed, &sub.failed, &sub.skipped,
                        &sub.minimum) == 4) {
            tallied = true;
            tally->passed += sub.passed;
            tally->failed += sub.failed;
            tally->skipped += sub.skipped;
            tally->minimum += sub.minimum;
        } else {
            Say(got);
        }
    }
    if (!tallied) {
        ++tally->failed;
        Say("FAILED           code page 932 by manifest -- the pass did not finish: " + run.error +
            " exit code " + std::to_string(run.exitCode));
    }
}

// Whether a copy of e2e.exe whose manifest asks for ja-JP gets code page 932; the copies made.
bool PrepareByManifest(const std::wstring& program)
{
    std::wstring folder = SystemDrive() + L"\\" + kByManifest;
    RemoveTree(folder);
    if (!MakeFolders(folder) || !CopyWithCodePage(SelfPath(), folder + L"\\e2e.exe", "ja-JP") ||
        !CopyWithCodePage(program, folder + L"\\FinishSetup.exe", "ja-JP")) {
        Say("code page 932 by manifest: no, the copies could not be made");
        return false;
    }
    Run run = StartAndWatch(folder + L"\\e2e.exe", folder,
                            L"\"" + folder + L"\\e2e.exe\" --code-page", L"", 120000);
    bool works = run.error.empty() && run.exitCode == 932;
    Say(works ? "code page 932 by manifest: yes, for the cases that need it"
              : "code page 932 by manifest: no, a copy asking for ja-JP gets code page " +
                    std::to_string(run.exitCode) + " (Windows 10 takes only UTF-8)");
    return works;
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    return path.empty() || !GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr) ? path : full;
}

bool ParseOptions(int count, wchar_t** args, Options* options)
{
    for (int i = 1; i < count; ++i) {
        std::wstring arg = args[i];
        bool value = i + 1 < count;
        if (arg == L"--only" && value) {
            std::wstring list = args[++i];
            for (std::size_t at = 0, end; at <= list.size(); at = end + 1) {
                end = list.find(L',', at);
                if (end == std::wstring::npos) end = list.size();
                options->only.push_back(list.substr(at, end - at));
            }
        } else if (arg == L"--case" && value) {
            options->cases.push_back(args[++i]);
        } else if (arg == L"--details" && value) {
            options->details = args[++i];
        } else if (arg == L"--artifacts" && value) {
            options->artifacts = args[++i];
        } else if (arg == L"--sub-report" && value) {
            options->subReport = args[++i];
        } else if (arg == L"--wine-as-root") {
            options->wineAsRoot = true;
        } else if (options->program.empty() && arg.rfind(L"--", 0) != 0) {
            options->program = arg;
        } else {
            return false;
        }
    }
    for (std::wstring* path : {&options->details, &options->artifacts, &options->program})
        *path = FullPath(*path);  // the code page 932 pass runs in another folder
    return !options->program.empty();
}

int RunCases(const Options& options)
{
    bool sub = !options.subReport.empty(), elevated = IsElevated();
    if (sub) out = _wfopen(options.subReport.c_str(), L"wb");
    if (out == nullptr) return 1;
    SayPlatform(elevated, !sub);
    bool byManifest = !sub && GetACP() != 932 && PrepareByManifest(options.program);
    if (!SetUpPlaces(options.program)) {
        Say("cannot set up " + Utf8(places.root) + " with " + Utf8(options.program));
        return 1;
    }
    if (!options.details.empty()) details = _wfopen(options.details.c_str(), sub ? L"ab" : L"wb");
    if (!options.artifacts.empty()) MakeFolders(options.artifacts);
    Tally tally;
    std::vector<std::string> need932;
    int index = 0;
    for (const Case& c : MakeCases()) {
        ++index;
        if (!Selected(c, options)) continue;
        Unmet unmet = elevated ? Check(c)
                               : Unmet{Skip::MachineInUse,
                                       "needs an elevated run, to "
                                       "write under HKEY_LOCAL_MACHINE"};
        if (unmet.kind == Skip::CodePage && byManifest && (c.codePage == 0 || c.codePage == 932)) {
            need932.push_back(c.name);
            continue;
        }
        if (unmet.kind == Skip::None || unmet.kind == Skip::MachineInUse) ++tally.minimum;
        if (unmet.kind != Skip::None) {
            ++tally.skipped;
            Say("skipped          " + c.name + " -- " + unmet.reason);
            continue;
        }
        ULONGLONG started = GetTickCount64();
        Verdict verdict = RunCase(c, options, index);
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%5.1f s",
                      static_cast<double>(GetTickCount64() - started) / 1000);
        bool ok = verdict.failure.empty();
        ++(ok ? tally.passed : tally.failed);
        Say(std::string(ok ? "ok      " : "FAILED  ") + seconds + "  " + c.name +
            (ok ? (verdict.note.empty() ? "" : " -- " + verdict.note) : " -- " + verdict.failure));
    }
    for (int wait = 0; wait < 100 && (RemoveTree(places.root), FileExists(places.root)); ++wait)
        Sleep(100);
    if (details != nullptr) std::fclose(details);
    details = nullptr;
    if (sub) {  // the pass that started this one checks the folders and sums up
        Say("tally " + std::to_string(tally.passed) + " " + std::to_string(tally.failed) + " " +
            std::to_string(tally.skipped) + " " + std::to_string(tally.minimum));
        std::fclose(out);
        return 0;
    }
    if (!need932.empty()) RunByManifest(need932, options, &tally);
    std::wstring byManifestFolder = SystemDrive() + L"\\" + kByManifest;
    RemoveTree(byManifestFolder);
    for (const std::wstring& folder : {places.root, byManifestFolder})
        if (FileExists(folder)) {
            ++tally.failed;
            Say("FAILED           cleanup -- " + Utf8(folder) + " could not be removed");
        }
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
    if (IsRecorder()) return RecordStart();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 4 && std::wstring(args[1]) == L"--probe") return RunProbe(args[2], args[3]);
    if (count == 2 && std::wstring(args[1]) == L"--code-page") return static_cast<int>(GetACP());
    Options options;
    if (!ParseOptions(count, args, &options)) {
        Say("usage: e2e.exe [--only TEXT[,TEXT...] | --case NAME...] [--details FILE] "
            "[--artifacts FOLDER] [--wine-as-root] PATH\\FinishSetup.exe");
        return 2;
    }
    SetConsoleOutputCP(CP_UTF8);
    CoInitialize(nullptr);
    int failures = RunCases(options);
    CoUninitialize();
    return failures;
}

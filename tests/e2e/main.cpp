// e2e.exe [--only TEXT[,TEXT...] | --case NAME...] [--details FILE] [--artifacts FOLDER]
//         PATH\FinishSetup.exe
//
// Runs each case of the table against the given FinishSetup.exe, inside the Windows it runs on,
// and cleans up what it made, also when a case fails. One line a case, then "N passed, N
// failed, N skipped"; the exit code is the number of failures. --only runs the cases whose names
// hold one of the texts; --case, each case named exactly. A case that fails or is skipped says why
// after " -- ". --details writes, for the Wine runner's cross-checks, each case's program runs
// (process ids), boxes and links, the links copied to --artifacts. Started as e2e.exe --probe IN
// OUT, it is the Wine runner's helper (probe.cpp); copied under another name, it records how it was
// started.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "cases.h"

namespace {

struct Options {
    std::vector<std::wstring> only, cases;
    std::wstring details, artifacts, program;
};

FILE* details = nullptr;
bool onWine = false;

void Say(const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Detail(const std::string& line)
{
    if (details == nullptr) return;
    std::fprintf(details, "%s\n", line.c_str());
    std::fflush(details);
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

// The platform, as the report's first lines give it.
void SayPlatform()
{
    typedef LONG(WINAPI * GetVersionFunction)(OSVERSIONINFOW*);
    typedef const char*(CDECL * WineVersionFunction)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    auto getVersion = reinterpret_cast<GetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (getVersion != nullptr) getVersion(&version);
    auto wineVersion = reinterpret_cast<WineVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
    Say("code page: " + std::to_string(GetACP()));
    Say("windows: " + std::to_string(version.dwMajorVersion) + "." +
        std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber) +
        (IsWow64() ? ", a 32-bit process on 64-bit Windows" : ""));
    Say("user: " + Utf8(UserName()));
    Say(std::string("wine: ") + (wineVersion != nullptr ? wineVersion() : "no"));
    onWine = wineVersion != nullptr;
}

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

// The cases' own folders, and the program copied where they start it.
bool SetUpPlaces(const std::wstring& program)
{
    wchar_t drive[8] = L"C:";
    GetEnvironmentVariableW(L"SystemDrive", drive, 8);
    places.root = std::wstring(drive) + L"\\FinishSetupE2E";
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

bool CanWriteLocalMachine()
{
    HKEY key;
    const wchar_t* probe = L"SOFTWARE\\FinishSetupE2E";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, probe, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, probe);
    return true;
}

// What a case made, undone in reverse order whatever happens.
class Undo {
public:
    void Add(std::function<void()> step)
    {
        steps.push_back(std::move(step));
    }
    ~Undo()
    {
        for (auto step = steps.rbegin(); step != steps.rend(); ++step) (*step)();
    }

private:
    std::vector<std::function<void()>> steps;
};

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

// Why the case cannot run here, or "".
std::string Unmet(const Case& c, bool admin)
{
    if (!admin) return "needs administrator rights, to write under HKEY_LOCAL_MACHINE";
    if (c.codePage != 0 && c.codePage != GetACP())
        return "needs code page " + std::to_string(c.codePage) + ", this is " +
               std::to_string(GetACP());
    if (c.wow64Only && !IsWow64()) return "needs a 32-bit program on 64-bit Windows";
    std::string bytes;
    if (c.userOutsideCodePage && ToCodePage(UserName(), &bytes))
        return "needs a user whose name code page " + std::to_string(GetACP()) + " cannot hold";
    bool exact = true;
    if (c.settings) SettingsBytes(*c.settings, &exact);
    for (const Write& w : c.registry)
        if (w.api == Api::Ansi)
            exact = exact && ToCodePage(w.name, &bytes) && ToCodePage(w.text, &bytes);
    if (!exact)
        return "its names or paths have no exact form in code page " + std::to_string(GetACP());
    if (c.removeStartupFolder && !FilesIn(places.startup).empty())
        return "the Startup folder holds files of the user's";
    for (const std::wstring& folder : {places.startup, places.desktop})
        if (IsFile(folder + L"\\" + c.app + L".lnk"))
            return "the user has a link " + Utf8(c.app) + ".lnk";
    for (const Write& w : c.registry)
        if (KeyExists(w.key, w.view)) return "HKLM\\" + Utf8(w.key) + " exists already";
    return "";
}

// The folders where a link named wrongly could land: the two folders, and two levels up.
std::vector<std::wstring> WatchedFolders()
{
    std::set<std::wstring> folders;
    for (std::wstring folder : {places.startup, places.desktop})
        for (int level = 0; level < 3 && !folder.empty(); ++level, folder = ParentOf(folder))
            folders.insert(folder);
    return std::vector<std::wstring>(folders.begin(), folders.end());
}

std::set<std::wstring> Snapshot(const std::vector<std::wstring>& folders)
{
    std::set<std::wstring> files;
    for (const std::wstring& folder : folders)
        for (const std::wstring& name : FilesIn(folder)) files.insert(folder + L"\\" + name);
    return files;
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
    for (const Run& run : o.runs) {
        char pid[16];
        std::snprintf(pid, sizeof pid, "%04lx", static_cast<unsigned long>(run.processId));
        Detail(std::string("pid ") + pid);
        for (const Box& box : run.boxes)
            Detail("box " + Hex(Utf8(box.text)) + " " + Hex(Utf8(box.caption)));
    }
    if (options.artifacts.empty()) return;
    struct Found {
        const wchar_t* name;
        const std::wstring& folder;
        const std::optional<Link>& link;
    } found[] = {{L"startup", places.startup, o.startup}, {L"desktop", places.desktop, o.desktop}};
    for (const Found& f : found) {
        if (!f.link) continue;
        std::wstring copy =
            options.artifacts + L"\\" + std::to_wstring(index) + L"-" + f.name + L".lnk";
        CopyFileW((f.folder + L"\\" + c.app + L".lnk").c_str(), copy.c_str(), FALSE);
        Detail("link " + Hex(Utf8(copy)) + " " + Hex(Utf8(f.link->target)) + " " +
               Hex(Utf8(f.link->workingDirectory)) + " " + Hex(Utf8(f.link->description)));
    }
}

std::string JudgeAgainst(const std::vector<Box>& expected, const std::vector<Check>& checks,
                         const Outcome& o)
{
    std::vector<Box> boxes;
    for (const Run& run : o.runs) {
        if (!run.error.empty()) return run.error;
        if (run.exitCode != 0) return "exit code " + std::to_string(run.exitCode);
        boxes.insert(boxes.end(), run.boxes.begin(), run.boxes.end());
    }
    bool sameBoxes =
        boxes.size() == expected.size() &&
        std::equal(boxes.begin(), boxes.end(), expected.begin(), [](const Box& a, const Box& b) {
            return a.text == b.text && a.caption == b.caption;
        });
    if (!sameBoxes) {
        std::string seen;
        for (const Box& box : boxes) seen += " (" + Utf8(box.caption) + ": " + Utf8(box.text) + ")";
        return "message boxes:" + (seen.empty() ? " none" : seen) + "; expected " +
               std::to_string(expected.size());
    }
    for (const Check& check : checks) {
        std::string failure = check(o);
        if (!failure.empty()) return failure;
    }
    return "";
}

// What Windows does; on Wine, what Wine does instead where a case names the difference, given
// as "=" and the reason. A failure on one line.
std::string Judge(const Case& c, const Outcome& o)
{
    std::string failure = JudgeAgainst(c.boxes, c.checks, o);
    if (!failure.empty() && onWine && !c.wineDifference.empty() &&
        JudgeAgainst(c.wineBoxes, c.wineChecks, o).empty())
        return "=" + c.wineDifference;
    for (char& character : failure)
        if (character == '\n') character = ' ';
    return failure;
}

std::string RunCase(const Case& c, const Options& options, int index)
{
    Undo undo;
    std::wstring program = c.programDir.empty() ? places.program : c.programDir;
    for (const Write& w : c.registry) {
        std::wstring first = FirstMissingKey(w.key, w.view);
        if (!first.empty()) undo.Add([first, w] { DeleteKey(first, w.view); });
        std::string failure = WriteValue(w);
        if (!failure.empty()) return failure;
    }
    if (c.settings) {
        bool exact = true;
        std::wstring path = program + L"\\" + c.settingsName;
        WriteBytes(path, SettingsBytes(*c.settings, &exact));
        undo.Add([path] { DeleteFileW(path.c_str()); });
    }
    for (const std::wstring& path : c.recorders) {
        MakeFolders(ParentOf(path));
        CopyFileW(SelfPath().c_str(), path.c_str(), FALSE);
        undo.Add([path] {  // a recorder the shell started may still be ending
            for (int wait = 0; !DeleteFileW(path.c_str()) && FileExists(path) && wait < 100; ++wait)
                Sleep(100);
        });
    }
    if (c.readOnlyLink) {
        std::wstring path = places.startup + L"\\" + c.app + L".lnk";
        if (!SaveLink(path, OldLink())) return "cannot save the read-only link";
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
        undo.Add([path] {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        });
    }
    if (c.removeStartupFolder) {
        RemoveDirectoryW(places.startup.c_str());
        undo.Add([] { MakeFolders(places.startup); });
    }
    std::vector<std::wstring> watched = WatchedFolders();
    std::set<std::wstring> before = Snapshot(watched);
    undo.Add([watched, before] {  // whatever the runs made there
        for (const std::wstring& file : Snapshot(watched))
            if (!before.count(file)) DeleteFileW(file.c_str());
    });
    TakeStarted();

    Outcome o;
    std::wstring desktop = c.hidden ? OpenHiddenDesktop() : L"";
    if (c.hidden && desktop.empty()) return "cannot make a hidden window station";
    std::wstring command =
        c.command.empty() ? L"\"" + program + L"\\FinishSetup.exe\" -normal" : c.command;
    for (int i = 0; i < c.runs; ++i)
        o.runs.push_back(StartAndWatch(program + L"\\FinishSetup.exe",
                                       c.cwd.empty() ? program : c.cwd, command, desktop, 60000));
    if (c.hidden) CloseHiddenDesktop();
    o.entry = ReadKey(c.entryKey.empty() ? EntryKey(c.app) : c.entryKey, c.entryView);
    o.startup = ReadLink(places.startup + L"\\" + c.app + L".lnk");
    o.desktop = ReadLink(places.desktop + L"\\" + c.app + L".lnk");
    o.startupFolderExists = FileExists(places.startup);
    for (const std::wstring& file : Snapshot(watched))
        if (!before.count(file))
            o.newFiles.push_back(file.substr(ParentOf(ParentOf(file)).size() + 1));
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
    return Judge(c, o);
}

bool Selected(const Case& c, const Options& options)
{
    std::wstring name = FromUtf8(c.name);
    if (!options.cases.empty())
        return std::find(options.cases.begin(), options.cases.end(), name) != options.cases.end();
    if (options.only.empty()) return true;
    return std::any_of(options.only.begin(), options.only.end(), [&](const std::wstring& text) {
        return name.find(text) != std::wstring::npos;
    });
}

bool ParseOptions(int count, wchar_t** args, Options* options)
{
    for (int i = 1; i < count; ++i) {
        std::wstring arg = args[i];
        if (arg == L"--only" && i + 1 < count) {
            std::wstring list = args[++i];
            for (std::size_t at = 0, end; at <= list.size(); at = end + 1) {
                end = list.find(L',', at);
                if (end == std::wstring::npos) end = list.size();
                options->only.push_back(list.substr(at, end - at));
            }
        } else if (arg == L"--case" && i + 1 < count) {
            options->cases.push_back(args[++i]);
        } else if (arg == L"--details" && i + 1 < count) {
            options->details = args[++i];
        } else if (arg == L"--artifacts" && i + 1 < count) {
            options->artifacts = args[++i];
        } else if (options->program.empty() && arg.rfind(L"--", 0) != 0) {
            options->program = arg;
        } else {
            return false;
        }
    }
    return !options->program.empty();
}

int RunCases(const Options& options)
{
    SayPlatform();
    if (!SetUpPlaces(options.program)) {
        Say("cannot set up " + Utf8(places.root) + " with " + Utf8(options.program));
        return 1;
    }
    if (!options.details.empty()) details = _wfopen(options.details.c_str(), L"wb");
    if (!options.artifacts.empty()) MakeFolders(options.artifacts);
    bool admin = CanWriteLocalMachine();
    int passed = 0, failed = 0, skipped = 0, index = 0;
    for (const Case& c : MakeCases()) {
        ++index;
        if (!Selected(c, options)) continue;
        std::string unmet = Unmet(c, admin);
        if (!unmet.empty()) {
            ++skipped;
            Say("skipped          " + c.name + " -- " + unmet);
            continue;
        }
        ULONGLONG started = GetTickCount64();
        std::string failure = RunCase(c, options, index);
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%5.1f s",
                      static_cast<double>(GetTickCount64() - started) / 1000);
        if (failure.empty() || failure[0] == '=') {
            ++passed;
            Say(std::string("ok      ") + seconds + "  " + c.name +
                (failure.empty() ? "" : " -- as on Wine: " + failure.substr(1)));
        } else {
            ++failed;
            Say(std::string("FAILED  ") + seconds + "  " + c.name + " -- " + failure);
        }
    }
    for (int wait = 0; wait < 100 && (RemoveTree(places.root), FileExists(places.root)); ++wait)
        Sleep(100);
    if (details != nullptr) std::fclose(details);
    Say(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
        std::to_string(skipped) + " skipped");
    return failed;
}

}  // namespace

int main()
{
    if (IsRecorder()) return RecordStart();
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count == 4 && std::wstring(args[1]) == L"--probe") return RunProbe(args[2], args[3]);
    Options options;
    if (!ParseOptions(count, args, &options)) {
        Say("usage: e2e.exe [--only TEXT[,TEXT...]] [--details FILE] [--artifacts FOLDER] "
            "PATH\\FinishSetup.exe");
        return 2;
    }
    SetConsoleOutputCP(CP_UTF8);
    CoInitialize(nullptr);
    int failures = RunCases(options);
    CoUninitialize();
    return failures;
}

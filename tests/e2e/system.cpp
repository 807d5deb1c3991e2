// What the cases do through the Windows API: start the program and answer its message boxes,
// read shortcuts and registry keys, and handle files and folders.
#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "e2e.h"

namespace {

struct BoxWatch {
    DWORD processId;
    std::vector<HWND>* seen;
    std::vector<Box>* boxes;
};

std::wstring WindowText(HWND window)
{
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The box's text: Windows gives its static control the id 0xFFFF; any other text static that
// is not the icon serves where it does not.
BOOL CALLBACK FindText(HWND child, LPARAM found)
{
    std::wstring* text = reinterpret_cast<std::wstring*>(found);
    if (ClassOf(child) == L"Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        if (text->empty()) *text = WindowText(child);
    return TRUE;
}

std::wstring BoxText(HWND box)
{
    HWND item = GetDlgItem(box, 0xFFFF);
    std::wstring text = item != nullptr ? WindowText(item) : L"";
    if (text.empty()) EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(&text));
    return text;
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM watch)
{
    BoxWatch* w = reinterpret_cast<BoxWatch*>(watch);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != w->processId || !IsWindowVisible(window) || ClassOf(window) != L"#32770")
        return TRUE;
    if (std::find(w->seen->begin(), w->seen->end(), window) == w->seen->end()) {
        w->seen->push_back(window);
        w->boxes->push_back({BoxText(window), WindowText(window)});
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
    return TRUE;
}

HWINSTA hiddenStation = nullptr;
HDESK hiddenDesktop = nullptr;

}  // namespace

Run StartAndWatch(const std::wstring& exe, const std::wstring& cwd, const std::wstring& commandLine,
                  const std::wstring& desktop, DWORD limitMs)
{
    Run run;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring desktopName = desktop, line = commandLine;
    if (!desktopName.empty()) startup.lpDesktop = &desktopName[0];
    PROCESS_INFORMATION process = {};
    ULONGLONG started = GetTickCount64();
    if (!CreateProcessW(exe.empty() ? nullptr : exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0,
                        nullptr, cwd.c_str(), &startup, &process)) {
        run.error = "CreateProcess failed: " + std::to_string(GetLastError());
        return run;
    }
    run.processId = process.dwProcessId;
    std::vector<HWND> seen;
    BoxWatch watch = {process.dwProcessId, &seen, &run.boxes};
    while (WaitForSingleObject(process.hProcess, 50) == WAIT_TIMEOUT) {
        EnumWindows(AnswerBox, reinterpret_cast<LPARAM>(&watch));
        if (GetTickCount64() - started > limitMs) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, 10000);
            run.error = "still running after " + std::to_string(limitMs / 1000) + " s: killed";
            break;
        }
    }
    run.seconds = static_cast<double>(GetTickCount64() - started) / 1000;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::wstring OpenHiddenDesktop()
{
    HWINSTA own = GetProcessWindowStation();
    hiddenStation = CreateWindowStationW(L"finishsetup-e2e", 0, WINSTA_ALL_ACCESS, nullptr);
    if (hiddenStation == nullptr) return L"";
    SetProcessWindowStation(hiddenStation);
    hiddenDesktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(own);
    if (hiddenDesktop == nullptr) {
        CloseHiddenDesktop();
        return L"";
    }
    return L"finishsetup-e2e\\Default";
}

void CloseHiddenDesktop()
{
    if (hiddenDesktop != nullptr) CloseDesktop(hiddenDesktop);
    if (hiddenStation != nullptr) CloseWindowStation(hiddenStation);
    hiddenDesktop = nullptr;
    hiddenStation = nullptr;
}

bool operator==(const Link& a, const Link& b)
{
    return a.target == b.target && a.workingDirectory == b.workingDirectory &&
           a.description == b.description;
}

bool IsFile(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    std::wstring name = path.substr(path.find_last_of(L"\\/") + 1);
    return !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           lstrcmpiW(found.cFileName, name.c_str()) == 0;
}

std::optional<Link> ReadLink(const std::wstring& path)
{
    if (!IsFile(path)) return std::nullopt;
    Link link;
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return Link{L"(no shell link object)", L"", L""};
    wchar_t text[MAX_PATH * 4] = {};
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        if (shellLink->GetPath(text, MAX_PATH * 4, nullptr, SLGP_RAWPATH) == S_OK)
            link.target = text;
        text[0] = 0;
        if (SUCCEEDED(shellLink->GetWorkingDirectory(text, MAX_PATH * 4)))
            link.workingDirectory = text;
        text[0] = 0;
        if (SUCCEEDED(shellLink->GetDescription(text, MAX_PATH * 4))) link.description = text;
    } else {
        link.target = L"(unreadable)";
    }
    if (file != nullptr) file->Release();
    shellLink->Release();
    return link;
}

bool SaveLink(const std::wstring& path, const Link& link)
{
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return false;
    shellLink->SetPath(link.target.c_str());
    shellLink->SetWorkingDirectory(link.workingDirectory.c_str());
    shellLink->SetDescription(link.description.c_str());
    bool saved =
        SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file != nullptr) file->Release();
    shellLink->Release();
    return saved;
}

bool operator==(const Value& a, const Value& b)
{
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

REGSAM ViewFlag(int view)
{
    return view == 32 ? KEY_WOW64_32KEY : view == 64 ? KEY_WOW64_64KEY : 0;
}

std::optional<std::vector<Value>> ReadKey(const std::wstring& key, int view)
{
    HKEY opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | ViewFlag(view), &opened) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<Value> values;
    std::vector<wchar_t> name(32768);
    std::vector<BYTE> data(1 << 20);
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = static_cast<DWORD>(name.size()),
              dataSize = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueW(opened, index, name.data(), &nameSize, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS)
            break;
        values.push_back({std::wstring(name.data(), nameSize), type,
                          std::string(reinterpret_cast<char*>(data.data()), dataSize)});
    }
    RegCloseKey(opened);
    return values;
}

bool KeyExists(const std::wstring& key, int view)
{
    HKEY opened;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | ViewFlag(view), &opened) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

LONG DeleteKey(const std::wstring& key, int view)
{
    HKEY opened;
    LONG status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | ViewFlag(view), &opened);
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(opened, nullptr);
    RegCloseKey(opened);
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), ViewFlag(view), 0);
    return status;
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return L"";
    return path;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size();
    CloseHandle(file);
    return whole;
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

std::wstring ParentOf(const std::wstring& path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

bool MakeFolders(const std::wstring& path)
{
    if (path.size() <= 3 || FileExists(path)) return true;
    if (!MakeFolders(ParentOf(path))) return false;
    return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

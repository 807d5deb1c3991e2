// What the cases do through the Windows API: start the program and answer its message boxes,
// read shortcuts and registry keys, and handle files and folders.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "e2e.h"

namespace {

struct BoxWatch {
    DWORD processId;
    std::vector<HWND> seen;
    std::vector<Box>* boxes;
};

// WM_GETTEXT, which reads a control of another process: GetWindowTextW does not send it
// there, and reads a caption only (Microsoft). A box that does not answer in 5 s reads empty.
std::wstring WindowText(HWND window)
{
    wchar_t text[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        5000, &length);
    return text;
}

BOOL CALLBACK AnswerBox(HWND window, LPARAM watch)
{
    BoxWatch* w = reinterpret_cast<BoxWatch*>(watch);
    DWORD owner = 0;
    wchar_t type[16] = {};
    GetWindowThreadProcessId(window, &owner);
    GetClassNameW(window, type, 16);
    if (owner != w->processId || !IsWindowVisible(window) || lstrcmpW(type, L"#32770") != 0)
        return TRUE;
    if (std::find(w->seen.begin(), w->seen.end(), window) == w->seen.end()) {
        w->seen.push_back(window);
        HWND text =
            GetDlgItem(window, 0xFFFF);  // the text's static: 0xFFFF on Windows, 100 on Wine
        w->boxes->push_back(
            {WindowText(text ? text : GetDlgItem(window, 100)), WindowText(window)});
    }
    // Closed as a user closes it with Esc: the dialog manager sends WM_COMMAND IDCANCEL, and
    // Microsoft documents that Esc on a box whose only button is OK returns IDOK. No control of
    // the box need have the ID IDOK: Windows gives the only button of an MB_OK box ID 2
    // (IDCANCEL), Wine ID 1, and both end the box on IDCANCEL.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}

HWINSTA hiddenStation = nullptr;
HDESK hiddenDesktop = nullptr;

}  // namespace

// Every process the run starts ends with it, a run that was killed included, rather than stay
// showing a box and holding its exe: a job's processes end when its last handle is closed
// (JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE), as the system closes e2e.exe's when it ends.
HANDLE Job()
{
    static HANDLE job = [] {
        HANDLE made = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit = {};
        limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limit, sizeof limit);
        return made;
    }();
    return job;
}

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
    if (!CreateProcessW(exe.empty() ? nullptr : exe.c_str(), &line[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, cwd.empty() ? nullptr : cwd.c_str(), &startup,
                        &process)) {
        run.error = "CreateProcess failed: " + std::to_string(GetLastError());
        return run;
    }
    AssignProcessToJobObject(Job(), process.hProcess);
    ResumeThread(process.hThread);
    run.processId = process.dwProcessId;

    BoxWatch watch = {process.dwProcessId, {}, &run.boxes};
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

bool CopyExe(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return false;
    DeleteFileW((to + L":Zone.Identifier").c_str());
    return true;
}

// SYSTEM and Administrators only, inheriting nothing: a folder made directly under the drive
// root would inherit "Authenticated Users: create folders / append data", and a standard user
// could replace an exe there that the elevated run then starts.
bool MakeOwnFolder(const std::wstring& path)
{
    SECURITY_ATTRIBUTES protection = {sizeof protection, nullptr, FALSE};
    bool made = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                    &protection.lpSecurityDescriptor, nullptr) &&
                CreateDirectoryW(path.c_str(), &protection);
    LocalFree(protection.lpSecurityDescriptor);
    return made;
}

// Windows gives what an elevated administrator creates to the Administrators group (Wine to its
// one account, this token's user); a standard user cannot give a folder such an owner.
bool IsOwnFolder(const std::wstring& path)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BYTE user[128] = {};
    DWORD size = 0;
    bool own = GetTokenInformation(GetCurrentProcessToken(), TokenUser, user, sizeof user, &size) &&
               GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                     &owner, nullptr, nullptr, nullptr, &descriptor) == 0 &&
               (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
                IsWellKnownSid(owner, WinLocalSystemSid) ||
                EqualSid(owner, reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
    LocalFree(descriptor);
    return own;
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

namespace {

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found)
{
    *reinterpret_cast<WORD*>(found) = language;
    return FALSE;
}

}  // namespace

// The manifest's activeCodePage gives the process the code page of the locale it names on
// Windows 11 and Windows Server 2022 and later (and on Wine 8); Windows 10 takes only "UTF-8".
bool CopyWithCodePage(const std::wstring& exe, const std::wstring& copy, const std::string& locale)
{
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr || !CopyExe(exe, copy)) return false;
    WORD language = 0;
    const wchar_t* type = MAKEINTRESOURCEW(24);  // RT_MANIFEST, the process's own (ID 1)
    EnumResourceLanguagesW(module, type, MAKEINTRESOURCEW(1), FirstLanguage,
                           reinterpret_cast<LONG_PTR>(&language));
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(1), language);
    std::string manifest;
    if (found != nullptr)
        manifest.assign(static_cast<const char*>(LockResource(LoadResource(module, found))),
                        SizeofResource(module, found));
    FreeLibrary(module);
    std::size_t end = manifest.rfind("</assembly>");
    if (end == std::string::npos) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    manifest.insert(end,
                    "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
                    "<activeCodePage xmlns=\"http://schemas.microsoft.com/SMI/2019/"
                    "WindowsSettings\">" +
                        locale + "</activeCodePage></windowsSettings></application>\n");
    HANDLE update = BeginUpdateResourceW(copy.c_str(), FALSE);
    return update != nullptr &&
           UpdateResourceW(update, type, MAKEINTRESOURCEW(1), language, &manifest[0],
                           static_cast<DWORD>(manifest.size())) &&
           EndUpdateResourceW(update, FALSE);
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

// The shell link object, and its file interface: both released by the caller.
IShellLinkW* NewLink(IPersistFile** file)
{
    IShellLinkW* link = nullptr;
    *file = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))))
        link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file));
    return link;
}

std::optional<Link> ReadLink(const std::wstring& path)
{
    if (!IsFile(path)) return std::nullopt;
    IPersistFile* file;
    IShellLinkW* shellLink = NewLink(&file);
    Link link = {L"(unreadable)", L"", L""};
    wchar_t text[3][MAX_PATH * 4] = {};
    if (file != nullptr && SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
        shellLink->GetPath(text[0], MAX_PATH * 4, nullptr, SLGP_RAWPATH);
        shellLink->GetWorkingDirectory(text[1], MAX_PATH * 4);
        shellLink->GetDescription(text[2], MAX_PATH * 4);
        link = {text[0], text[1], text[2]};
    }
    if (file != nullptr) file->Release();
    if (shellLink != nullptr) shellLink->Release();
    return link;
}

bool SaveLink(const std::wstring& path, const Link& link)
{
    IPersistFile* file;
    IShellLinkW* shellLink = NewLink(&file);
    bool saved = file != nullptr && SUCCEEDED(shellLink->SetPath(link.target.c_str())) &&
                 SUCCEEDED(shellLink->SetWorkingDirectory(link.workingDirectory.c_str())) &&
                 SUCCEEDED(shellLink->SetDescription(link.description.c_str())) &&
                 SUCCEEDED(file->Save(path.c_str(), TRUE));
    if (file != nullptr) file->Release();
    if (shellLink != nullptr) shellLink->Release();
    return saved;
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
    std::ofstream file(path.c_str(), std::ios::binary);
    return file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush().good();
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::wstring ParentOf(const std::wstring& path)
{
    std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash);
}

bool MakeFolders(const std::wstring& path)
{
    int status = SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return status == ERROR_SUCCESS || status == ERROR_ALREADY_EXISTS;
}

void RemoveTree(const std::wstring& path)
{
    std::error_code error;  // listed first: the loop removes what it lists
    std::vector<std::filesystem::directory_entry> entries(
        std::filesystem::directory_iterator(path, error), {});
    for (const auto& entry : entries) {
        std::wstring child = path + L"\\" + entry.path().filename().wstring();
        bool link = GetFileAttributesW(child.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT;
        SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(child.c_str()) && !link) RemoveTree(child);  // never through a junction
        RemoveDirectoryW(child.c_str());
    }
    RemoveDirectoryW(path.c_str());
}

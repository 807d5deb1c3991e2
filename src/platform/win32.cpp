// The platform seam on Windows: each operation forwards to the API, the ANSI one where the
// program's text is in the system's code page. The only file that sees <windows.h>.
#include <windows.h>
#include <shlobj.h>

#include "platform/platform.h"

// The process entry point. The C runtime's start-up is not linked: the program parses no
// arguments (it computes its own command-line tail), has no constructors and no atexit
// handlers, so the runtime would only add size and imports.
extern "C" void ProgramEntry()
{
    ::ExitProcess(static_cast<UINT>(StartProgram()));
}

namespace os {

static LPWSTR ToWide(char16_t* text)
{
    return reinterpret_cast<LPWSTR>(text);
}

static LPCWSTR ToWide(const char16_t* text)
{
    return reinterpret_cast<LPCWSTR>(text);
}

// The command line as the process was given it. GetCommandLineA's copy is converted with the
// code page's best fit: under code page 1252 a full-width quote (U+FF02) in a folder's name
// arrives there as '"'.
const char16_t* GetCommandLineW()
{
    return reinterpret_cast<const char16_t*>(::GetCommandLineW());
}

Dword GetModuleFileNameW(char16_t* buffer, Dword size)
{
    return ::GetModuleFileNameW(nullptr, ToWide(buffer), size);
}

Dword GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* fallback, char16_t* destination, Dword size,
                               const char16_t* fileName)
{
    return ::GetPrivateProfileStringW(ToWide(section), ToWide(key), ToWide(fallback),
                                      ToWide(destination), size, ToWide(fileName));
}

const char* CharNextA(const char* position)
{
    return ::CharNextA(position);
}

const char* CharPrevA(const char* start, const char* position)
{
    return ::CharPrevA(start, position);
}

void* Allocate(std::size_t size)
{
    return ::HeapAlloc(::GetProcessHeap(), 0, size);
}

void Free(void* block)
{
    if (block != nullptr) ::HeapFree(::GetProcessHeap(), 0, block);
}

// HKEY_LOCAL_MACHINE is sign-extended on x64, so it is mapped rather than cast.
static HKEY ToHkey(KeyHandle key)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles travel through the seam as integers
    return key == kLocalMachine ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key);
}

Status RegOpenKeyExA(KeyHandle parent, const char* subkey, Dword options, Dword access,
                     KeyHandle* result)
{
    HKEY opened = nullptr;
    Status status = ::RegOpenKeyExA(ToHkey(parent), subkey, options, access, &opened);
    if (status == ERROR_SUCCESS) *result = reinterpret_cast<KeyHandle>(opened);
    return status;
}

Status RegEnumValueA(KeyHandle key, Dword index, char* name, Dword* nameSize, Dword* type,
                     unsigned char* data, Dword* dataSize)
{
    DWORD nameCount = *nameSize, dataCount = *dataSize, valueType = *type;
    Status status = ::RegEnumValueA(ToHkey(key), index, name, &nameCount, nullptr, &valueType, data,
                                    &dataCount);
    *nameSize = nameCount;
    *dataSize = dataCount;
    *type = valueType;
    return status;
}

Status RegEnumValueW(KeyHandle key, Dword index, char16_t* name, Dword* nameSize)
{
    DWORD nameCount = *nameSize;
    Status status = ::RegEnumValueW(ToHkey(key), index, reinterpret_cast<LPWSTR>(name), &nameCount,
                                    nullptr, nullptr, nullptr, nullptr);
    *nameSize = nameCount;
    return status;
}

Status RegQueryValueExW(KeyHandle key, const char16_t* name, Dword* type, unsigned char* data,
                        Dword* dataSize)
{
    DWORD valueType = 0, size = *dataSize;
    Status status = ::RegQueryValueExW(ToHkey(key), ToWide(name), nullptr, &valueType, data, &size);
    *type = valueType;
    *dataSize = size;
    return status;
}

Status RegSetValueExA(KeyHandle key, const char* name, Dword reserved, Dword type,
                      const unsigned char* data, Dword dataSize)
{
    return ::RegSetValueExA(ToHkey(key), name, reserved, type, data, dataSize);
}

Status RegCloseKey(KeyHandle key)
{
    return ::RegCloseKey(ToHkey(key));
}

HResult CoInitialize()
{
    return ::CoInitialize(nullptr);
}

void CoUninitialize()
{
    ::CoUninitialize();
}

// The class and interface ids, spelled here rather than taken from libuuid, whose object
// holding them brings tens of kilobytes of other ids into the exe.
static const GUID kClsidShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidShellLinkA = {0x000214EE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
static const GUID kIidPersistFile = {0x0000010B, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

static IShellLinkA* ToShellLink(ShellLinkHandle link)
{
    return reinterpret_cast<IShellLinkA*>(link);
}

static IPersistFile* ToPersistFile(PersistFileHandle file)
{
    return reinterpret_cast<IPersistFile*>(file);
}

HResult CoCreateShellLink(ShellLinkHandle* link)
{
    void* created = nullptr;
    HResult result = ::CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                        kIidShellLinkA, &created);
    *link = static_cast<ShellLinkHandle>(created);
    return result;
}

HResult QueryPersistFile(ShellLinkHandle link, PersistFileHandle* file)
{
    void* queried = nullptr;
    HResult result = ToShellLink(link)->QueryInterface(kIidPersistFile, &queried);
    *file = static_cast<PersistFileHandle>(queried);
    return result;
}

HResult SetPath(ShellLinkHandle link, const char* path)
{
    return ToShellLink(link)->SetPath(path);
}

HResult SetDescription(ShellLinkHandle link, const char* description)
{
    return ToShellLink(link)->SetDescription(description);
}

HResult SetWorkingDirectory(ShellLinkHandle link, const char* directory)
{
    return ToShellLink(link)->SetWorkingDirectory(directory);
}

HResult Save(PersistFileHandle file, const char16_t* fileName, int remember)
{
    return ToPersistFile(file)->Save(ToWide(fileName), remember);
}

void Release(PersistFileHandle file)
{
    ToPersistFile(file)->Release();
}

void Release(ShellLinkHandle link)
{
    ToShellLink(link)->Release();
}

int MultiByteToWideChar(unsigned codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideSize)
{
    return ::MultiByteToWideChar(codePage, flags, text, length, ToWide(wide), wideSize);
}

int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wide, int length,
                        char* text, int size)
{
    return ::WideCharToMultiByte(codePage, flags, ToWide(wide), length, text, size, nullptr,
                                 nullptr);
}

Dword GetFileAttributesW(const char16_t* path)
{
    return ::GetFileAttributesW(ToWide(path));
}

Dword GetLongPathNameW(const char16_t* path, char16_t* longPath, Dword size)
{
    return ::GetLongPathNameW(ToWide(path), ToWide(longPath), size);
}

int CompareStringOrdinal(const char16_t* left, const char16_t* right, int ignoreCase)
{
    return ::CompareStringOrdinal(ToWide(left), -1, ToWide(right), -1, ignoreCase);
}

int SHGetSpecialFolderPathW(char16_t* path, int folder, int create)
{
    return ::SHGetSpecialFolderPathW(nullptr, ToWide(path), folder, create);
}

int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style)
{
    return ::MessageBoxW(nullptr, ToWide(text), ToWide(caption), style);
}

WindowStationHandle GetProcessWindowStation()
{
    return reinterpret_cast<WindowStationHandle>(::GetProcessWindowStation());
}

int GetUserObjectFlags(WindowStationHandle station, Dword* flags)
{
    USEROBJECTFLAGS objectFlags = {};
    // NOLINTNEXTLINE(performance-no-int-to-ptr): handles travel through the seam as integers
    if (!::GetUserObjectInformationW(reinterpret_cast<HANDLE>(station), UOI_FLAGS, &objectFlags,
                                     sizeof objectFlags, nullptr))
        return 0;
    *flags = objectFlags.dwFlags;
    return 1;
}

Dword GetCurrentProcessId()
{
    return ::GetCurrentProcessId();
}

int ProcessIdToSessionId(Dword processId, Dword* sessionId)
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(processId, &session)) return 0;
    *sessionId = session;
    return 1;
}

}  // namespace os

// The Windows operations the program uses, declared without <windows.h> so that the logic
// builds anywhere. win32.cpp forwards them to the real API; the simulated platform stands in
// for them in the native build. The names and argument orders are the API's own.
#ifndef FINISHSETUP_PLATFORM_PLATFORM_H
#define FINISHSETUP_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

typedef std::uint32_t Dword;
typedef std::int32_t Status;                 // LSTATUS: a Win32 error code, 0 for success
typedef std::uintptr_t KeyHandle;            // HKEY; 0 is the null handle
typedef std::int32_t HResult;                // HRESULT: negative for failure, 0 (S_OK) for success
typedef std::uintptr_t WindowStationHandle;  // HWINSTA; 0 is the null handle

// The shell link object's two interfaces, IShellLinkA and IPersistFile.
typedef struct ShellLinkInterface* ShellLinkHandle;
typedef struct PersistFileInterface* PersistFileHandle;

const Status kErrorSuccess = 0;
const Status kErrorMoreData = 234;
const Status kErrorNoMoreItems = 259;

const KeyHandle kLocalMachine = 0x80000002;  // HKEY_LOCAL_MACHINE
const Dword kKeyRead = 0x20019;
const Dword kKeyAllAccess = 0xF003F;
const Dword kRegSz = 1;
const Dword kRegExpandSz = 2;
const Dword kRegMultiSz = 7;

const Dword kInvalidFileAttributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES
const int kCstrEqual = 2;                         // CSTR_EQUAL

const HResult kSOk = 0;
const HResult kEFail = static_cast<HResult>(0x80004005);
const HResult kEPointer = static_cast<HResult>(0x80004003);

const int kCsidlStartup = 7;
const int kCsidlDesktopDirectory = 16;
const unsigned kMbOkIconWarning = 0x30;  // MB_OK | MB_ICONWARNING
const Dword kWsfVisible = 0x1;           // WSF_VISIBLE, of a window station's UOI_FLAGS
const unsigned kCpAcp = 0;
const Dword kMbErrInvalidChars = 0x8;  // MB_ERR_INVALID_CHARS

// The longest value name the registry allows: 16383 characters of up to two bytes, and the zero.
const Dword kLongestValueName = 2 * 16383 + 1;

// MAX_PATH: the byte size of the path buffers.
const std::size_t kMaxPath = 260;

// The program's own entry, called by the platform's start-up code; its result is the exit code.
int StartProgram();

namespace os {

// The whole process command line, program name included, in UTF-16 as it was given.
const char16_t* GetCommandLineW();

// The running executable's path (module NULL) in UTF-16, as the file system names it; the count
// of units written, size when cut, 0 on failure.
Dword GetModuleFileNameW(char16_t* buffer, Dword size);

// The profile value in UTF-16, cut to size - 1 units, or fallback; the count of units written.
Dword GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                               const char16_t* fallback, char16_t* destination, Dword size,
                               const char16_t* fileName);

// Character stepping in the system's ANSI code page, which may be double-byte.
const char* CharNextA(const char* position);
const char* CharPrevA(const char* start, const char* position);

// The process heap; Allocate returns nullptr on failure, Free accepts nullptr.
void* Allocate(std::size_t size);
void Free(void* block);

// Registry, as the ANSI API: subkey nullptr opens a new handle to parent itself; the
// enumeration's reserved argument is always NULL and left out.
Status RegOpenKeyExA(KeyHandle parent, const char* subkey, Dword options, Dword access,
                     KeyHandle* result);
Status RegEnumValueA(KeyHandle key, Dword index, char* name, Dword* nameSize, Dword* type,
                     unsigned char* data, Dword* dataSize);
// The name of the value at index, as the registry keeps it, in UTF-16: nameSize holds the
// buffer's units on entry and the name's length on return (RegEnumValueW, without type or data).
Status RegEnumValueW(KeyHandle key, Dword index, char16_t* name, Dword* nameSize);
// The value's data as the registry keeps it, string data in UTF-16 (RegQueryValueExW); with
// data nullptr only its size.
Status RegQueryValueExW(KeyHandle key, const char16_t* name, Dword* type, unsigned char* data,
                        Dword* dataSize);
Status RegSetValueExA(KeyHandle key, const char* name, Dword reserved, Dword type,
                      const unsigned char* data, Dword dataSize);
Status RegCloseKey(KeyHandle key);

// COM for the calling thread: CoInitialize(NULL), and CoUninitialize.
HResult CoInitialize();
void CoUninitialize();

// CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link), and
// the calls on the two interfaces; each Release drops one reference.
HResult CoCreateShellLink(ShellLinkHandle* link);
HResult QueryPersistFile(ShellLinkHandle link, PersistFileHandle* file);
HResult SetPath(ShellLinkHandle link, const char* path);
HResult SetDescription(ShellLinkHandle link, const char* description);
HResult SetWorkingDirectory(ShellLinkHandle link, const char* directory);
HResult Save(PersistFileHandle file, const char16_t* fileName, int remember);
void Release(PersistFileHandle file);
void Release(ShellLinkHandle link);

// The count of UTF-16 units written, terminator included when length is -1; 0 on failure.
int MultiByteToWideChar(unsigned codePage, Dword flags, const char* text, int length,
                        char16_t* wide, int wideSize);

// WideCharToMultiByte with no default character: the count of bytes written, terminator
// included when length is -1; 0 on failure. A character the code page lacks becomes a
// replacement, which only converting back reveals.
int WideCharToMultiByte(unsigned codePage, Dword flags, const char16_t* wide, int length,
                        char* text, int size);

// A file's attributes, kInvalidFileAttributes when none can be had (no such file among them).
Dword GetFileAttributesW(const char16_t* path);
// The path with each component in its long form, as the folder lists it (an 8.3 alias replaced):
// the units written; when size is too small, the size needed; 0 on failure.
Dword GetLongPathNameW(const char16_t* path, char16_t* longPath, Dword size);
// Compares two zero-terminated UTF-16 texts by their units, with ignoreCase by their upper-case
// forms as the file system compares names: kCstrEqual when they are equal.
int CompareStringOrdinal(const char16_t* left, const char16_t* right, int ignoreCase);

// SHGetSpecialFolderPathW with no owner window: nonzero when path (MAX_PATH units) holds the
// folder's path.
int SHGetSpecialFolderPathW(char16_t* path, int folder, int create);

// MessageBoxW with no owner window; returns when the user dismisses it.
int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style);

// The process's window station, and its UOI_FLAGS (GetUserObjectInformationW): nonzero when
// flags holds them.
WindowStationHandle GetProcessWindowStation();
int GetUserObjectFlags(WindowStationHandle station, Dword* flags);

// The Terminal Services session of a process (ProcessIdToSessionId): nonzero when sessionId
// holds it. Session 0 is the services', which no user sees.
Dword GetCurrentProcessId();
int ProcessIdToSessionId(Dword processId, Dword* sessionId);

}  // namespace os

#endif

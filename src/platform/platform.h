// The Windows operations the program uses, declared without <windows.h> so that the logic
// builds anywhere. win32.cpp forwards them to the real API; the simulated platform stands in
// for them in the native build. The names and argument orders are the API's own.
#ifndef FINISHSETUP_PLATFORM_PLATFORM_H
#define FINISHSETUP_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

typedef std::uint32_t Dword;
typedef std::int32_t Status;        // LSTATUS: a Win32 error code, 0 for success
typedef std::uintptr_t KeyHandle;   // HKEY; 0 is the null handle

const Status kErrorSuccess = 0;
const Status kErrorMoreData = 234;
const Status kErrorNoMoreItems = 259;

const KeyHandle kLocalMachine = 0x80000002;  // HKEY_LOCAL_MACHINE
const Dword kKeyRead = 0x20019;
const Dword kKeyAllAccess = 0xF003F;
const Dword kRegSz = 1;

// The longest value name the registry allows: 16383 characters of up to two bytes, and the zero.
const Dword kLongestValueName = 2 * 16383 + 1;

// MAX_PATH: the byte size of the path buffers.
const std::size_t kMaxPath = 260;

// The program's own entry, called by the platform's start-up code; its result is the exit code.
int StartProgram();

namespace os {

// The whole process command line, program name included.
const char* GetCommandLineA();

// The running executable's path (module NULL); the count of bytes written, size when cut, 0 on failure.
Dword GetModuleFileNameA(char* buffer, Dword size);

// The profile value, cut to size - 1 bytes, or fallback; the count of bytes written.
Dword GetPrivateProfileStringA(const char* section, const char* key, const char* fallback,
                               char* destination, Dword size, const char* fileName);

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
Status RegSetValueExA(KeyHandle key, const char* name, Dword reserved, Dword type,
                      const unsigned char* data, Dword dataSize);
Status RegCloseKey(KeyHandle key);

}  // namespace os

#endif

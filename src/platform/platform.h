// The Windows operations the program uses, declared without <windows.h> so that the logic
// builds anywhere. win32.cpp forwards them to the real API; the simulated platform stands in
// for them in the native build. The names and argument orders are the API's own.
#ifndef FINISHSETUP_PLATFORM_PLATFORM_H
#define FINISHSETUP_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

typedef std::uint32_t Dword;

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

}  // namespace os

#endif

// The platform seam on Windows: each operation forwards to the ANSI API. The only file that
// sees <windows.h>.
#include <windows.h>

#include "platform/platform.h"

// The runtime's start-up calls main, also in a GUI-subsystem program; the program's own
// WinMain takes the tail that StartProgram computes.
int main()
{
    return StartProgram();
}

namespace os {

const char* GetCommandLineA()
{
    return ::GetCommandLineA();
}

Dword GetModuleFileNameA(char* buffer, Dword size)
{
    return ::GetModuleFileNameA(nullptr, buffer, size);
}

Dword GetPrivateProfileStringA(const char* section, const char* key, const char* fallback,
                               char* destination, Dword size, const char* fileName)
{
    return ::GetPrivateProfileStringA(section, key, fallback, destination, size, fileName);
}

const char* CharNextA(const char* position)
{
    return ::CharNextA(position);
}

const char* CharPrevA(const char* start, const char* position)
{
    return ::CharPrevA(start, position);
}

}  // namespace os

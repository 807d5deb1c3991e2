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
    Status status = ::RegEnumValueA(ToHkey(key), index, name, &nameCount, nullptr, &valueType,
                                    data, &dataCount);
    *nameSize = nameCount;
    *dataSize = dataCount;
    *type = valueType;
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

}  // namespace os

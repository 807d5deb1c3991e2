#include "registry/uninstall.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/value_search.h"
#include "run/path.h"
#include "run/setup_names.h"

int UpdateUninstallString(char* pathBuffer, std::size_t capacity)
{
    if (!AppendFileName(pathBuffer, capacity, "Uninstall.exe")) return 0;
    if (!IsNameAvailable(UninstallKeyPath)) return 0;
    LocalMachineKey opened = OpenLocalMachineKey(UninstallKeyPath, kKeyAllAccess);
    FoundValue found = {};
    int result = FindValueByName(opened.key, "UninstallString", &found);
    if (result) {
        os::RegSetValueExA(opened.key, found.name, 0, kRegSz,
                           reinterpret_cast<const unsigned char*>(pathBuffer),
                           static_cast<Dword>(std::strlen(pathBuffer) + 1));
    }
    ReleaseFoundValue(&found);
    CloseLocalMachineKey(opened);
    return result;
}

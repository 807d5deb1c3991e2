#include "registry/uninstall.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/value_search.h"
#include "run/path.h"
#include "run/setup_names.h"
#include "run/text.h"

// Windows runs the command with CreateProcess and no module name: unquoted, a space in the
// install folder lets "C:\Program.exe" or "C:\Apps\Sample.exe" start first, as whoever
// uninstalls. A command that does not fit with its quotes is not written at all.
int UpdateUninstallString(char* pathBuffer, std::size_t capacity)
{
    if (!AppendFileName(pathBuffer, capacity, "Uninstall.exe")) return 0;
    if (!QuoteText(pathBuffer, capacity)) return 0;
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

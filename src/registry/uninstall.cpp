#include "registry/uninstall.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/value_search.h"
#include "run/path.h"
#include "run/setup_names.h"
#include "run/text.h"

// The entry's key path: UninstallKeyPath with the format's two backslashes before the name
// made one, which Windows' tree search would take for a key named "". Only those: a name that
// is empty, or begins with a backslash, still leaves an empty name, and opens nothing.
static void ComposeEntryKeyPath(char* path)
{
    const std::size_t doubled = sizeof kUninstallEntries - 2;  // the second of the two
    std::memcpy(path, UninstallKeyPath, kSetupNameSize);
    std::memmove(path + doubled, path + doubled + 1, kSetupNameSize - doubled - 1);
}

// Windows runs the command with CreateProcess and no module name: unquoted, a space in the
// install folder lets "C:\Program.exe" or "C:\Apps\Sample.exe" start first, as whoever
// uninstalls. A command that does not fit with its quotes is not written at all.
int UpdateUninstallString(char* pathBuffer, std::size_t capacity)
{
    if (!AppendFileName(pathBuffer, capacity, "Uninstall.exe")) return 0;
    if (!QuoteText(pathBuffer, capacity)) return 0;
    if (!IsNameAvailable(UninstallKeyPath)) return 0;
    char entryKeyPath[kSetupNameSize];
    ComposeEntryKeyPath(entryKeyPath);
    LocalMachineKey opened = OpenLocalMachineKey(entryKeyPath, kKeyAllAccess);
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

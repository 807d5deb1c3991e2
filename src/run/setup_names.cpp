#include "run/setup_names.h"

#include <cstring>

#include "platform/platform.h"
#include "run/path.h"
#include "run/text.h"

char AppName[kSetupNameSize];
char CompanyName[kSetupNameSize];
char ProductKeyPath[kSetupNameSize];
char UninstallKeyPath[kSetupNameSize];
char ShortcutFileName[kSetupNameSize];

static const char kSettingsFileName[] = "ImInitial";

void ClearSetupNames()
{
    std::memset(AppName, 0, sizeof AppName);
    std::memset(CompanyName, 0, sizeof CompanyName);
    std::memset(ProductKeyPath, 0, sizeof ProductKeyPath);
    std::memset(UninstallKeyPath, 0, sizeof UninstallKeyPath);
    std::memset(ShortcutFileName, 0, sizeof ShortcutFileName);
}

// The settings file's path: the executable's directory, separator kept, and the file name.
// 0 when the module path cannot be had whole or the result would not fit.
static int BuildSettingsPath(char* path)
{
    std::memset(path, 0, kMaxPath);
    Dword length = os::GetModuleFileNameA(path, kMaxPath);
    if (length == 0 || length >= kMaxPath) return 0;
    const char* separator = FindLastPathSeparator(path);
    if (separator == nullptr) return 0;
    path[separator - path + 1] = 0;
    return AppendText(path, kMaxPath, kSettingsFileName);
}

void ReadSetupValue(const char* key, char* destination)
{
    char path[kMaxPath];
    destination[0] = 0;
    if (!BuildSettingsPath(path)) return;
    os::GetPrivateProfileStringA("SYS", key, "", destination, kSetupNameSize, path);
}

// Joins the parts into name; the name stays empty when the whole does not fit.
static void ComposeName(char* name, const char* const* parts, std::size_t count)
{
    name[0] = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!AppendText(name, kSetupNameSize, parts[i])) {
            std::memset(name, 0, kSetupNameSize);
            return;
        }
    }
}

void ComposeSetupNames()
{
    const char* const product[] = {"SOFTWARE\\", CompanyName, "\\", AppName};
    const char* const uninstall[] = {"SOFTWARE\\Microsoft\\windows\\CurrentVersion\\Uninstall\\\\",
                                     AppName};
    const char* const shortcut[] = {"\\", AppName, ".lnk"};
    ComposeName(ProductKeyPath, product, 4);
    ComposeName(UninstallKeyPath, uninstall, 2);
    ComposeName(ShortcutFileName, shortcut, 3);
}

int IsNameAvailable(const char* composedName)
{
    return composedName[0] != 0;
}

#include "run/setup_names.h"

#include <cstring>

#include "platform/platform.h"
#include "run/code_page.h"
#include "run/path.h"
#include "run/text.h"

char AppName[kSetupNameSize];
char CompanyName[kSetupNameSize];
char ProductKeyPath[kSetupNameSize];
char UninstallKeyPath[kSetupNameSize];
char ShortcutFileName[kSetupNameSize];

static const char16_t kSettingsFileName[] = u"ImInitial";

void ClearSetupNames()
{
    std::memset(AppName, 0, sizeof AppName);
    std::memset(CompanyName, 0, sizeof CompanyName);
    std::memset(ProductKeyPath, 0, sizeof ProductKeyPath);
    std::memset(UninstallKeyPath, 0, sizeof UninstallKeyPath);
    std::memset(ShortcutFileName, 0, sizeof ShortcutFileName);
}

// The settings file's path in UTF-16: the executable's folder, separator kept, and the file
// name. UTF-16 names the folder exactly where the code page may not: read through code page
// 932, "C:\Café Setup" is "C:\Cafe Setup", another folder with other settings. No unit of
// UTF-16 can be taken for a separator inside a character. 0 when the module path cannot be
// had whole or the result would not fit.
static int BuildSettingsPath(char16_t* path)
{
    std::memset(path, 0, kMaxPath * sizeof(char16_t));
    Dword length = os::GetModuleFileNameW(path, kMaxPath);
    if (length == 0 || length >= kMaxPath) return 0;
    std::size_t folder = static_cast<std::size_t>(LastPathName(path) - path);
    if (folder == 0 || folder + sizeof kSettingsFileName / sizeof(char16_t) > kMaxPath) return 0;
    std::memcpy(path + folder, kSettingsFileName, sizeof kSettingsFileName);
    return 1;
}

int ReadSetupValue(const char16_t* key, char* destination)
{
    char16_t path[kMaxPath];
    char16_t value[kExactUnits];
    destination[0] = 0;
    if (!BuildSettingsPath(path)) return 1;
    os::GetPrivateProfileStringW(u"SYS", key, u"", value, kExactUnits, path);
    return ToExactCodePage(value, destination, kSetupNameSize);
}

// Joins the parts into name; the name stays empty when a part is not exact or the whole does
// not fit.
static void ComposeName(char* name, const char* const* parts, std::size_t count, int exact)
{
    name[0] = 0;
    if (!exact) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (!AppendText(name, kSetupNameSize, parts[i])) {
            std::memset(name, 0, kSetupNameSize);
            return;
        }
    }
}

void ComposeSetupNames(int appExact, int companyExact)
{
    const char* const product[] = {"SOFTWARE\\", CompanyName, "\\", AppName};
    const char* const uninstall[] = {kUninstallEntries, AppName};
    const char* const shortcut[] = {"\\", AppName, ".lnk"};
    ComposeName(ProductKeyPath, product, 4, appExact && companyExact);
    ComposeName(UninstallKeyPath, uninstall, 2, appExact);
    ComposeName(ShortcutFileName, shortcut, 3, appExact);
}

int IsNameAvailable(const char* composedName)
{
    return composedName[0] != 0;
}

#include "run/win_main.h"

#include "platform/platform.h"
#include "registry/install_path.h"
#include "registry/uninstall.h"
#include "run/command_line.h"
#include "run/setup_names.h"
#include "run/text.h"
#include "shortcut/place_shortcut.h"

static void PrepareSetupNames()
{
    ClearSetupNames();
    int appExact = ReadSetupValue(u"ApplicationName", AppName);
    int companyExact = ReadSetupValue(u"CRCompany", CompanyName);
    ComposeSetupNames(appExact, companyExact);
}

// The Desktop shortcut only follows a Startup shortcut that was written: after a failure the
// user has seen one warning, and a second attempt would only show another.
static void PlaceShortcuts()
{
    if (os::CoInitialize() < 0) return;
    if (PlaceShortcut(kStartupFolder) == 0) PlaceShortcut(kDesktopFolder);
    os::CoUninitialize();
}

// Without an install path there is no command to write: the entry is left as it is.
static void RegisterUninstaller()
{
    char uninstallPath[kMaxPath];
    if (QueryInstallPath(uninstallPath, sizeof uninstallPath))
        UpdateUninstallString(uninstallPath, sizeof uninstallPath);
}

int WinMain(void*, void*, const char* commandTail, int)
{
    if (!MatchesIgnoringCase(commandTail, "-normal")) return 0;
    PrepareSetupNames();
    PlaceShortcuts();
    RegisterUninstaller();
    return 0;
}

// The tail as WinMain takes it, in the code page: ASCII is the same bytes in every ANSI code
// page, and any other tail, which cannot be the ASCII "-normal", arrives empty rather than
// converted, since a conversion would take look-alikes (U+FF4E for 'n' under code page 1252).
static void ToAsciiTail(const char16_t* wide, char* tail, std::size_t capacity)
{
    std::size_t length = 0;
    for (; wide[length] != 0; ++length) {
        if (wide[length] >= 0x80 || length + 1 >= capacity) {
            tail[0] = 0;
            return;
        }
        tail[length] = static_cast<char>(wide[length]);
    }
    tail[length] = 0;
}

// The program's entry, called by the platform's entry point: there is no C runtime start-up
// to compute the command-line tail, so it is computed here, by the program's own rules, from
// the command line as typed (UTF-16).
int StartProgram()
{
    char tail[kSetupNameSize];
    ToAsciiTail(CommandLineTail(os::GetCommandLineW()), tail, sizeof tail);
    return WinMain(nullptr, nullptr, tail, 0);
}

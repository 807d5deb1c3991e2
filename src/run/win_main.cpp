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

// The program's entry, called by the platform's entry point: there is no C runtime start-up
// to compute the command-line tail, so it is computed here, by the program's own rules.
int StartProgram()
{
    return WinMain(nullptr, nullptr, CommandLineTail(os::GetCommandLineA()), 0);
}

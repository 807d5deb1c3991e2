#include "shortcut/place_shortcut.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/install_path.h"
#include "run/path.h"
#include "run/setup_names.h"
#include "run/text.h"
#include "shortcut/shell_link.h"

// Code page 932: "The install path was not found." and, on a new line, "Please check that
// the calendar is installed correctly".
static const char kInstallPathWarning[] =
    "\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5b\x83\x8b\x83\x70\x83\x58\x82\xaa\x8c\xa9\x82\xc2"
    "\x82\xa9\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd\x81\x42\x0a\x83\x4a\x83"
    "\x8c\x83\x93\x83\x5f\x81\x5b\x82\xaa\x90\xb3\x82\xb5\x82\xad\x83\x43\x83\x93\x83\x58\x83"
    "\x67\x81\x5b\x83\x8b\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xe9\x82\xa9\x8a\x6d\x94\x46\x82"
    "\xb5\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";

// Code page 932: "Creating the shortcut failed".
static const char kShortcutWarning[] =
    "\x83\x56\x83\x87\x81\x5b\x83\x67\x83\x4a\x83\x62\x83\x67\x82\xcc\x8d\xec\x90\xac\x82\xc9"
    "\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd";

static const std::size_t kTargetSize = 256;

int AppendLaunchTarget(char* path, std::size_t capacity)
{
    return AppendFileName(path, capacity, "calendar.exe");
}

static int Warn(const char* text)
{
    os::MessageBoxA(text, AppName, kMbOkIconWarning);
    return -1;
}

// {folder}\{application}.lnk into linkPath; 0 when the folder is unknown or the whole does
// not fit, so that no link is written to a path other than the one meant.
static int ComposeLinkPath(char* linkPath, int shortcutFolder)
{
    int folderId = shortcutFolder == kStartupFolder ? kCsidlStartup : kCsidlDesktopDirectory;
    std::memset(linkPath, 0, kMaxPath);
    if (!os::SHGetSpecialFolderPathA(linkPath, folderId, 1)) return 0;
    if (BoundedLength(linkPath, kMaxPath) >= kMaxPath) return 0;
    return IsNameAvailable(ShortcutFileName) && AppendText(linkPath, kMaxPath, ShortcutFileName);
}

int PlaceShortcut(int shortcutFolder)
{
    char linkPath[kMaxPath];
    int haveLinkPath = ComposeLinkPath(linkPath, shortcutFolder);
    char target[kTargetSize];
    std::memset(target, 0, sizeof target);
    if (!QueryInstallPath(target, sizeof target)) return Warn(kInstallPathWarning);
    if (!haveLinkPath || !AppendLaunchTarget(target, sizeof target)) return Warn(kShortcutWarning);
    if (CreateShellLink(target, linkPath, AppName) != kSOk) return Warn(kShortcutWarning);
    return 0;
}

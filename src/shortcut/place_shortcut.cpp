#include "shortcut/place_shortcut.h"

#include <cstring>

#include "platform/platform.h"
#include "registry/install_path.h"
#include "run/path.h"
#include "run/setup_names.h"
#include "shortcut/file_name.h"
#include "shortcut/shell_link.h"

// The warnings in UTF-16, so that they read the same whatever the system's code page:
// インストールパスが見つかりませんでした。(The install path was not found.) and, on a new line,
// カレンダーが正しくインストールされているか確認してください (Please check that the calendar
// is installed correctly).
static const char16_t kInstallPathWarning[] =
    u"\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u30d1\u30b9\u304c\u898b\u3064\u304b\u308a"
    u"\u307e\u305b\u3093\u3067\u3057\u305f\u3002\n\u30ab\u30ec\u30f3\u30c0\u30fc\u304c"
    u"\u6b63\u3057\u304f\u30a4\u30f3\u30b9\u30c8\u30fc\u30eb\u3055\u308c\u3066\u3044"
    u"\u308b\u304b\u78ba\u8a8d\u3057\u3066\u304f\u3060\u3055\u3044";

// ショートカットの作成に失敗しました (Creating the shortcut failed).
static const char16_t kShortcutWarning[] =
    u"\u30b7\u30e7\u30fc\u30c8\u30ab\u30c3\u30c8\u306e\u4f5c\u6210\u306b\u5931\u6557"
    u"\u3057\u307e\u3057\u305f";

static const std::size_t kTargetSize = 256;

int AppendLaunchTarget(char* path, std::size_t capacity)
{
    return AppendFileName(path, capacity, "calendar.exe");
}

// Deployment agents and services run installers as SYSTEM on a window station that no user
// can see: a box there would wait forever, and the installer with it. When the flags cannot
// be read, the station counts as visible, as .NET's Environment.UserInteractive decides.
static int IsWindowStationVisible()
{
    Dword flags = 0;
    if (!os::GetUserObjectFlags(os::GetProcessWindowStation(), &flags)) return 1;
    return (flags & kWsfVisible) != 0;
}

// Session 0 is the services': since Vista no user sees anything there, not even on a window
// station marked visible (an interactive service's). When the session cannot be read, the
// process counts as a user's.
static int IsInServiceSession()
{
    Dword session = 0;
    return os::ProcessIdToSessionId(os::GetCurrentProcessId(), &session) && session == 0;
}

// Where no one can see the box, the run goes on as after a dismissed one.
static int Warn(const char16_t* text)
{
    if (IsWindowStationVisible() && !IsInServiceSession()) {
        char16_t caption[kSetupNameSize];
        if (os::MultiByteToWideChar(kCpAcp, 0, AppName, -1, caption, kSetupNameSize) == 0)
            caption[0] = 0;
        os::MessageBoxW(text, caption, kMbOkIconWarning);
    }
    return -1;
}

static std::size_t WideLength(const char16_t* text, std::size_t capacity)
{
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return length;
}

// {folder}\{application}.lnk in UTF-16 into linkPath (MAX_PATH units): the folder as the shell
// names it, which the code page may not hold (a user named Zoë on code page 932), and the
// name converted from the code page of the settings. 0 when the folder is unknown, the whole
// does not fit, or the application's name is no plain file name, so that no link is written
// to a path other than the one meant. The name is tested in UTF-16: in code page 932 the bytes
// of '\' and '|' are also second bytes of characters.
static int ComposeLinkPath(char16_t* linkPath, int shortcutFolder)
{
    int folderId = shortcutFolder == kStartupFolder ? kCsidlStartup : kCsidlDesktopDirectory;
    std::memset(linkPath, 0, kMaxPath * sizeof(char16_t));
    if (!os::SHGetSpecialFolderPathW(linkPath, folderId, 1)) return 0;
    std::size_t used = WideLength(linkPath, kMaxPath);
    if (used >= kMaxPath || !IsNameAvailable(ShortcutFileName)) return 0;
    int units = os::MultiByteToWideChar(kCpAcp, 0, ShortcutFileName, -1, linkPath + used,
                                        static_cast<int>(kMaxPath - used));
    // "\{application}.lnk" and its zero: the name lies between the backslash and ".lnk".
    const int kAroundName = 6;
    return units >= kAroundName &&
           IsPlainFileName(linkPath + used + 1, static_cast<std::size_t>(units - kAroundName));
}

// On NTFS with short names (the system volume's default), a file also answers to its 8.3
// alias: CreateFile on "CALEND~1.lnk" opens "Calendar notes.lnk", and the save would overwrite
// the user's file. A file that stands at the link path is the link's own only when its long
// name is the link's name, compared as the file system compares names, without case
// (GetLongPathNameW; CompareStringOrdinal, which Microsoft names for file names).
static int IsLinkPathOurs(const char16_t* linkPath)
{
    if (os::GetFileAttributesW(linkPath) == kInvalidFileAttributes) return 1;
    char16_t longPath[kMaxPath];
    Dword units = os::GetLongPathNameW(linkPath, longPath, kMaxPath);
    if (units == 0 || units >= kMaxPath) return 0;
    return os::CompareStringOrdinal(LastPathName(linkPath), LastPathName(longPath), 1) ==
           kCstrEqual;
}

int PlaceShortcut(int shortcutFolder)
{
    char16_t linkPath[kMaxPath];
    int haveLinkPath = ComposeLinkPath(linkPath, shortcutFolder);
    char target[kTargetSize];
    std::memset(target, 0, sizeof target);
    if (!QueryInstallPath(target, sizeof target)) return Warn(kInstallPathWarning);
    if (!haveLinkPath || !AppendLaunchTarget(target, sizeof target) || !IsLinkPathOurs(linkPath))
        return Warn(kShortcutWarning);
    if (CreateShellLink(target, linkPath, AppName) != kSOk) return Warn(kShortcutWarning);
    return 0;
}

#ifndef FINISHSETUP_SHORTCUT_PLACE_SHORTCUT_H
#define FINISHSETUP_SHORTCUT_PLACE_SHORTCUT_H

#include <cstddef>

// Which folder receives the shortcut: 0 the user's Startup folder, any other the Desktop.
const int kStartupFolder = 0;
const int kDesktopFolder = 1;

// Writes {folder}\{application}.lnk to {install folder}\calendar.exe. Returns 0 when it was
// written; otherwise shows one warning (install path not found, or shortcut not written) and
// returns -1.
int PlaceShortcut(int shortcutFolder);

// Appends "calendar.exe" to the install path in path, with a backslash unless it ends with
// one. 1 when it fits capacity; otherwise 0 and path unchanged.
int AppendLaunchTarget(char* path, std::size_t capacity);

#endif

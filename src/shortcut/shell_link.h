#ifndef FINISHSETUP_SHORTCUT_SHELL_LINK_H
#define FINISHSETUP_SHORTCUT_SHELL_LINK_H

#include "platform/platform.h"

// Writes a shortcut file at linkPath (UTF-16) to target, with the install path as working
// directory, through the platform's shell link object. COM must be initialised on the thread.
// Returns the save's result, or the failing result of creating the object; only 0 means the
// file was written.
HResult CreateShellLink(const char* target, const char16_t* linkPath, const char* description);

#endif

#ifndef FINISHSETUP_REGISTRY_UNINSTALL_H
#define FINISHSETUP_REGISTRY_UNINSTALL_H

#include <cstddef>

// Turns the install path in pathBuffer into the quoted command "{install path}\Uninstall.exe",
// quotes included, and writes it, as REG_SZ, over the existing "UninstallString" of
// HKLM\UninstallKeyPath, keeping the value's name as stored. 1 when the value was found and
// written; 0 when the entry or the value is missing (neither is ever created) or the command does
// not fit capacity bytes.
int UpdateUninstallString(char* pathBuffer, std::size_t capacity);

#endif

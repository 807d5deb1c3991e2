#ifndef FINISHSETUP_REGISTRY_INSTALL_PATH_H
#define FINISHSETUP_REGISTRY_INSTALL_PATH_H

#include <cstddef>

// Copies the application's "InstallPath" (under HKLM\ProductKeyPath) into destination and
// returns 1. Returns 0, leaving destination as it was, when the key or the value is missing,
// the enumeration fails, or the path with its terminator does not fit capacity bytes.
int QueryInstallPath(char* destination, std::size_t capacity);

#endif

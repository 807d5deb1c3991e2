// The five process-wide names of a run. WinMain clears and fills them once; afterwards they
// are only read. A composed name that does not fit its buffer is left empty rather than cut:
// none of the three composed names is empty otherwise, so empty means "unavailable", and
// the phase that needs it fails as it does when its key or file cannot be reached.
#ifndef FINISHSETUP_RUN_SETUP_NAMES_H
#define FINISHSETUP_RUN_SETUP_NAMES_H

#include <cstddef>

const std::size_t kSetupNameSize = 128;

extern char AppName[kSetupNameSize];
extern char CompanyName[kSetupNameSize];
extern char ProductKeyPath[kSetupNameSize];
extern char UninstallKeyPath[kSetupNameSize];
extern char ShortcutFileName[kSetupNameSize];

void ClearSetupNames();

// Reads one key of section SYS of the settings file beside the executable into destination
// (kSetupNameSize bytes); the empty string when the file, the section or the key is missing.
void ReadSetupValue(const char* key, char* destination);

// ProductKeyPath, UninstallKeyPath and ShortcutFileName from AppName and CompanyName.
void ComposeSetupNames();

// 1 when the composed name fitted its buffer.
int IsNameAvailable(const char* composedName);

#endif

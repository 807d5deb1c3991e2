// The five process-wide names of a run. WinMain clears and fills them once; afterwards they
// are only read. A composed name that does not fit its buffer, or that is made of a name with
// no exact form in the code page, is left empty rather than cut or made of a look-alike: none
// of the three composed names is empty otherwise, so empty means "unavailable", and the phase
// that needs it fails as it does when its key or file cannot be reached.
#ifndef FINISHSETUP_RUN_SETUP_NAMES_H
#define FINISHSETUP_RUN_SETUP_NAMES_H

#include <cstddef>

const std::size_t kSetupNameSize = 128;

// What UninstallKeyPath holds before the application's name: the uninstall entries' key, and
// the format's two backslashes.
const char kUninstallEntries[] = "SOFTWARE\\Microsoft\\windows\\CurrentVersion\\Uninstall\\\\";

extern char AppName[kSetupNameSize];
extern char CompanyName[kSetupNameSize];
extern char ProductKeyPath[kSetupNameSize];
extern char UninstallKeyPath[kSetupNameSize];
extern char ShortcutFileName[kSetupNameSize];

void ClearSetupNames();

// Reads one key of section SYS of the settings file beside the executable into destination
// (kSetupNameSize bytes, cut at whole characters); the empty string when the file, the section
// or the key is missing. The file is read in UTF-16 and the value converted to the code page:
// 0, and the empty string, when the code page has no exact form for it.
int ReadSetupValue(const char16_t* key, char* destination);

// ProductKeyPath, UninstallKeyPath and ShortcutFileName from AppName and CompanyName; a name
// that is not exact (ReadSetupValue's 0) leaves every name made of it empty.
void ComposeSetupNames(int appExact = 1, int companyExact = 1);

// 1 when the composed name fitted its buffer.
int IsNameAvailable(const char* composedName);

#endif

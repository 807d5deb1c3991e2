#include "registry/value_search.h"

#include <cstring>

#include "run/code_page.h"
#include "run/path.h"
#include "run/text.h"

// Enough for the data to grow between two calls, and for a name longer than the buffer.
static const int kMaxRetriesPerIndex = 8;
static const Dword kFirstBufferSize = 1024;
static const Status kErrorNotEnoughMemory = 8;
// Longer than any name the program looks for ("UninstallString").
static const Dword kStoredNameUnits = 64;

// Windows' tree search takes "a\\b" for a key "" under "a", which no key is: the open fails,
// except when Windows' cache of recently opened keys happens to hold the collapsed path, and
// Wine always collapses. A path with an empty name is not opened at all: collapsed,
// "SOFTWARE\\App" of a company left empty would be another vendor's "SOFTWARE\App".
LocalMachineKey OpenLocalMachineKey(const char* keyPath, Dword access)
{
    LocalMachineKey opened = {0, 0};
    os::RegOpenKeyExA(kLocalMachine, nullptr, 0, kKeyRead, &opened.root);
    if (IsWholeKeyPath(keyPath)) os::RegOpenKeyExA(opened.root, keyPath, 0, access, &opened.key);
    return opened;
}

// Both handles are closed, also when null; the results tell nothing the caller could act on.
void CloseLocalMachineKey(LocalMachineKey opened)
{
    os::RegCloseKey(opened.key);
    os::RegCloseKey(opened.root);
}

void ReleaseFoundValue(FoundValue* found)
{
    os::Free(found->name);
    os::Free(found->data);
    found->name = nullptr;
    found->data = nullptr;
    found->dataSize = 0;
    found->type = 0;
}

static int AllocateBuffers(FoundValue* found, Dword nameSize, Dword dataSize)
{
    ReleaseFoundValue(found);
    found->name = static_cast<char*>(os::Allocate(nameSize > 0 ? nameSize : 1));
    found->data = static_cast<unsigned char*>(os::Allocate(dataSize > 0 ? dataSize : 1));
    return found->name != nullptr && found->data != nullptr;
}

// Enumerates the value at index into fresh buffers, growing them while the platform reports
// ERROR_MORE_DATA. After that answer the name size is undefined (Microsoft), and Japanese
// Windows 10 may report a data size larger than needed, even larger than the data buffer,
// when only the name did not fit. So each retry takes the longest name there can be and the
// data size reported, in one step: a long name cannot hide the values after it.
static Status EnumerateValue(KeyHandle key, Dword index, FoundValue* found)
{
    Dword nameCapacity = kFirstBufferSize, dataCapacity = kFirstBufferSize;
    if (!AllocateBuffers(found, nameCapacity, dataCapacity)) return kErrorNotEnoughMemory;
    Dword nameSize = nameCapacity, dataSize = dataCapacity, type = 0;
    Status status =
        os::RegEnumValueA(key, index, found->name, &nameSize, &type, found->data, &dataSize);
    for (int retry = 0; status == kErrorMoreData && retry < kMaxRetriesPerIndex; ++retry) {
        nameCapacity = kLongestValueName;
        if (dataSize > dataCapacity) dataCapacity = dataSize;
        if (!AllocateBuffers(found, nameCapacity, dataCapacity)) return kErrorNotEnoughMemory;
        nameSize = nameCapacity;
        dataSize = dataCapacity;
        status =
            os::RegEnumValueA(key, index, found->name, &nameSize, &type, found->data, &dataSize);
    }
    if (status != kErrorSuccess) return status;
    if (nameSize >= nameCapacity || dataSize > dataCapacity) return kErrorMoreData;
    found->name[nameSize] = 0;
    found->dataSize = dataSize;
    found->type = type;
    return kErrorSuccess;
}

// RegEnumValueA hands over the stored UTF-16 name converted with the code page's best fit:
// under code page 1252 a value named with full-width letters arrives as "UninstallString", and
// a write by that name would create a second value beside it. The name enumerated counts only
// when it converts back to exactly the name stored at the same index (RegEnumValueW).
static int IsStoredName(KeyHandle key, Dword index, const char* name)
{
    char16_t stored[kStoredNameUnits];
    Dword units = kStoredNameUnits;
    if (os::RegEnumValueW(key, index, stored, &units) != kErrorSuccess || units >= kStoredNameUnits)
        return 0;
    stored[units] = 0;
    return WidenedPrefix(name, std::strlen(name), stored) == static_cast<int>(units);
}

int FindValueByName(KeyHandle key, const char* wantedName, FoundValue* found)
{
    for (Dword index = 0;; ++index) {
        if (EnumerateValue(key, index, found) != kErrorSuccess) {
            ReleaseFoundValue(found);
            return 0;
        }
        if (MatchesIgnoringCase(found->name, wantedName) && IsStoredName(key, index, found->name))
            return 1;
    }
}

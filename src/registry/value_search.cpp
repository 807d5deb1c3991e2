#include "registry/value_search.h"

#include "run/path.h"
#include "run/text.h"

// Enough for the data to grow between two calls, and for a name longer than the buffer.
static const int kMaxRetriesPerIndex = 8;
static const Dword kFirstBufferSize = 1024;
static const Status kErrorNotEnoughMemory = 8;

// Windows' tree search takes "a\\b" for a key "" under "a", which no key is: the open fails,
// except when Windows' cache of recently opened keys happens to hold the collapsed path. So
// the key is opened by the path that the cache, and Wine always, resolve it to.
LocalMachineKey OpenLocalMachineKey(const char* keyPath, Dword access)
{
    LocalMachineKey opened = {0, 0};
    char collapsed[kMaxPath];
    os::RegOpenKeyExA(kLocalMachine, nullptr, 0, kKeyRead, &opened.root);
    if (CollapseKeyPath(collapsed, sizeof collapsed, keyPath))
        os::RegOpenKeyExA(opened.root, collapsed, 0, access, &opened.key);
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

int FindValueByName(KeyHandle key, const char* wantedName, FoundValue* found)
{
    for (Dword index = 0;; ++index) {
        if (EnumerateValue(key, index, found) != kErrorSuccess) {
            ReleaseFoundValue(found);
            return 0;
        }
        if (MatchesIgnoringCase(found->name, wantedName)) return 1;
    }
}

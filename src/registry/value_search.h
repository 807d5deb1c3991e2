// Finding a registry value by name through enumeration, comparing names without ASCII case.
#ifndef FINISHSETUP_REGISTRY_VALUE_SEARCH_H
#define FINISHSETUP_REGISTRY_VALUE_SEARCH_H

#include "platform/platform.h"

// A matched value: its name exactly as stored, its type and its data. The buffers come from
// the heap.
struct FoundValue {
    char* name;
    unsigned char* data;
    Dword dataSize;
    Dword type;
};

// A key under HKEY_LOCAL_MACHINE, opened relative to a handle of the root itself, by its path
// as given when no name in it is empty. A key that cannot be opened (such a path, missing, or
// refused for the access asked) keeps the null handle, on which the enumeration fails: the
// search then finds nothing.
struct LocalMachineKey {
    KeyHandle root;
    KeyHandle key;
};
LocalMachineKey OpenLocalMachineKey(const char* keyPath, Dword access);
void CloseLocalMachineKey(LocalMachineKey opened);

// 1 when a value of key is named wantedName (the first in enumeration order) exactly as
// stored, not by a look-alike of the code page; 0 when none is or the enumeration fails. Either way
// the caller ends with ReleaseFoundValue.
int FindValueByName(KeyHandle key, const char* wantedName, FoundValue* found);
void ReleaseFoundValue(FoundValue* found);

#endif

// Finding a registry value by name through enumeration, comparing names without ASCII case.
#ifndef FINISHSETUP_REGISTRY_VALUE_SEARCH_H
#define FINISHSETUP_REGISTRY_VALUE_SEARCH_H

#include "platform/platform.h"

// A matched value: its name exactly as stored, and its data. The buffers come from the heap.
struct FoundValue {
    char* name;
    unsigned char* data;
    Dword dataSize;
};

// 1 when a value of key is named wantedName (the first in enumeration order), 0 when none is
// or the enumeration fails. Either way the caller ends with ReleaseFoundValue.
int FindValueByName(KeyHandle key, const char* wantedName, FoundValue* found);
void ReleaseFoundValue(FoundValue* found);

#endif

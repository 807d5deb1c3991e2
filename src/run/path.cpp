#include "run/path.h"

#include "platform/platform.h"

int IsPathSeparator(const char* position)
{
    if (os::CharNextA(position) != position + 1) return 0;
    return *position == '\\' || *position == '/';
}

const char* FindLastPathSeparator(const char* text)
{
    const char* last = nullptr;
    for (const char* position = text; *position != 0; position = os::CharNextA(position)) {
        if (IsPathSeparator(position)) last = position;
    }
    return last;
}

int EndsWithBackslash(const char* text)
{
    const char* end = text;
    while (*end != 0) ++end;
    const char* lastCharacter = os::CharPrevA(text, end);
    return end - lastCharacter == 1 && *lastCharacter == '\\';
}

#include "run/path.h"

#include <cstring>

#include "platform/platform.h"
#include "run/text.h"

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

const char16_t* LastPathName(const char16_t* path)
{
    const char16_t* name = path;
    for (const char16_t* at = path; *at != 0; ++at)
        if (*at == u'\\' || *at == u'/') name = at + 1;
    return name;
}

int EndsWithBackslash(const char* text)
{
    const char* end = text;
    while (*end != 0) ++end;
    const char* lastCharacter = os::CharPrevA(text, end);
    return end - lastCharacter == 1 && *lastCharacter == '\\';
}

int AppendFileName(char* buffer, std::size_t capacity, const char* fileName)
{
    std::size_t used = BoundedLength(buffer, capacity);
    if (used >= capacity) return 0;
    std::size_t separator = EndsWithBackslash(buffer) ? 0 : 1;
    if (used + separator + std::strlen(fileName) >= capacity) return 0;
    if (separator) buffer[used++] = '\\';
    std::memcpy(buffer + used, fileName, std::strlen(fileName) + 1);
    return 1;
}

int IsWholeKeyPath(const char* keyPath)
{
    int afterSeparator = 1;
    for (const char* at = keyPath; *at != 0;) {
        const char* next = os::CharNextA(at);
        int separator = *at == '\\' && next == at + 1;  // a slash belongs to a key's name
        if (separator && afterSeparator) return 0;
        afterSeparator = separator;
        at = next;
    }
    return !afterSeparator;
}

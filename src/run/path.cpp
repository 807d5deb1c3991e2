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

int CollapseKeyPath(char* buffer, std::size_t capacity, const char* keyPath)
{
    std::size_t used = 0, separatorPending = 0;
    if (capacity == 0) return 0;
    buffer[0] = 0;
    for (const char* at = keyPath; *at != 0;) {
        const char* next = os::CharNextA(at);
        if (*at == '\\' && next == at + 1) {  // only a backslash: a slash belongs to a key name
            separatorPending = used > 0;
        } else {
            std::size_t length = static_cast<std::size_t>(next - at);
            if (used + separatorPending + length >= capacity) {
                buffer[0] = 0;
                return 0;
            }
            if (separatorPending) buffer[used++] = '\\';
            std::memcpy(buffer + used, at, length);
            used += length;
            buffer[used] = 0;
            separatorPending = 0;
        }
        at = next;
    }
    return 1;
}

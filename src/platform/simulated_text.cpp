// Character stepping in code page 932, as Windows steps: a lead byte followed by a non-zero
// byte makes one character of two bytes; stepping never passes the terminating zero.
#include "platform/platform.h"

static bool IsLeadByte932(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

namespace os {

const char* CharNextA(const char* position)
{
    if (*position == 0) return position;
    if (IsLeadByte932(static_cast<unsigned char>(position[0])) && position[1] != 0)
        return position + 2;
    return position + 1;
}

// The start of the character before position, found by stepping from the start of the
// string: a trail byte cannot be told from a lead byte by looking backwards.
const char* CharPrevA(const char* start, const char* position)
{
    while (*start != 0 && start < position) {
        const char* next = CharNextA(start);
        if (next >= position) break;
        start = next;
    }
    return start;
}

}  // namespace os

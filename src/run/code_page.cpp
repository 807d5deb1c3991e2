#include "run/code_page.h"

#include <cstring>

#include "platform/platform.h"

// UTF-8, the widest code page, takes three bytes for a unit of the Basic Multilingual Plane.
static const std::size_t kMostBytesPerUnit = 3;

// The bytes of the longest run of whole characters of text within limit bytes.
static std::size_t WholeCharactersWithin(const char* text, std::size_t limit)
{
    std::size_t length = 0;
    while (text[length] != 0) {
        std::size_t next = static_cast<std::size_t>(os::CharNextA(text + length) - text);
        if (next > limit) break;
        length = next;
    }
    return length;
}

int WidenedPrefix(const char* text, std::size_t length, const char16_t* wide)
{
    char16_t back[kMaxPath];
    if (length == 0) return 0;
    int units = os::MultiByteToWideChar(kCpAcp, kMbErrInvalidChars, text, static_cast<int>(length),
                                        back, kMaxPath);
    if (units == 0) return -1;
    // back holds no zero unit, so the comparison ends at the latest at the zero of wide.
    for (int at = 0; at < units; ++at)
        if (back[at] != wide[at]) return -1;
    return units;
}

int ToExactCodePage(const char16_t* wide, char* text, std::size_t capacity)
{
    char converted[kMostBytesPerUnit * kExactUnits];
    text[0] = 0;
    if (wide[0] == 0) return 1;
    if (os::WideCharToMultiByte(kCpAcp, 0, wide, -1, converted, sizeof converted) == 0) return 0;
    std::size_t kept = WholeCharactersWithin(converted, capacity - 1);
    if (WidenedPrefix(converted, kept, wide) <= 0) return 0;
    std::memcpy(text, converted, kept);
    text[kept] = 0;
    return 1;
}

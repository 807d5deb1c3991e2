#include "run/text.h"

#include <cstring>

static unsigned char FoldAsciiCase(unsigned char byte)
{
    return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

int MatchesIgnoringCase(const char* left, const char* right)
{
    for (;; ++left, ++right) {
        unsigned char a = FoldAsciiCase(static_cast<unsigned char>(*left));
        unsigned char b = FoldAsciiCase(static_cast<unsigned char>(*right));
        if (a != b) return 0;
        if (a == 0) return 1;
    }
}

std::size_t BoundedLength(const char* buffer, std::size_t capacity)
{
    const void* end = std::memchr(buffer, 0, capacity);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - buffer) : capacity;
}

int CopyText(char* buffer, std::size_t capacity, const char* text)
{
    std::size_t length = std::strlen(text);
    if (length >= capacity) return 0;
    std::memcpy(buffer, text, length + 1);
    return 1;
}

int AppendText(char* buffer, std::size_t capacity, const char* text)
{
    std::size_t used = BoundedLength(buffer, capacity);
    if (used >= capacity) return 0;
    return CopyText(buffer + used, capacity - used, text);
}

int QuoteText(char* buffer, std::size_t capacity)
{
    std::size_t length = BoundedLength(buffer, capacity);
    if (length + 2 >= capacity) return 0;
    std::memmove(buffer + 1, buffer, length);
    buffer[0] = '"';
    buffer[length + 1] = '"';
    buffer[length + 2] = 0;
    return 1;
}

// The system's ANSI code page, as Windows applies it: character stepping, and the conversions
// to and from UTF-16 that the ANSI API makes behind every call. 932 is double-byte; 1252 and
// 65001 step byte by byte.
#include <iconv.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "simulated.h"

namespace {

unsigned ansiCodePage = 932;

bool IsLeadByte(unsigned char byte)
{
    if (ansiCodePage != 932) return false;
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

const char* IconvName()
{
    return ansiCodePage == 932 ? "CP932" : ansiCodePage == 1252 ? "CP1252" : "UTF-8";
}

// Converts between encodings with iconv; false when the input is not valid in from.
bool Convert(const char* from, const char* to, const std::string& input, std::string* output)
{
    iconv_t converter = iconv_open(to, from);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open reports failure so
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    std::vector<char> buffer(input.size() * 4 + 16);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* out = buffer.data();
    std::size_t outLeft = buffer.size();
    bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    output->assign(buffer.data(), buffer.size() - outLeft);
    return converted;
}

// Windows' best fit for a character the code page lacks: a Latin letter with marks becomes the
// bare letter (so "Café" reaches a code page 932 program as "Cafe"), a full-width ASCII
// character (U+FF01 to U+FF5E, real characters in 932) its ASCII twin (bestfit1252: the
// full-width quote U+FF02 arrives as '"'); anything else becomes '?'.
char BestFit(char16_t unit)
{
    static const char kLatin1[] =
        "AAAAAAACEEEEIIIIDNOOOOOxOUUUUYTsaaaaaaaceeeeiiiidnooooo/ouuuuyty";
    if (unit >= 0xC0 && unit <= 0xFF) return kLatin1[unit - 0xC0];
    if (unit >= 0xFF01 && unit <= 0xFF5E) return static_cast<char>(unit - 0xFF01 + '!');
    return '?';
}

}  // namespace

namespace sim {

char16_t UpperUnit(char16_t unit)
{
    if ((unit >= u'a' && unit <= u'z') || (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7))
        return static_cast<char16_t>(unit - 0x20);
    if (unit >= 0xFF41 && unit <= 0xFF5A) return static_cast<char16_t>(unit - 0x20);
    return unit;
}

std::u16string FromUtf16Bytes(const std::string& bytes)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
    return units;
}

std::string ToUtf16Bytes(const std::u16string& units)
{
    std::string bytes;
    for (char16_t unit : units) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

void SetAnsiCodePage(unsigned codePage)
{
    ansiCodePage = codePage;
}

unsigned AnsiCodePage()
{
    return ansiCodePage;
}

// As MultiByteToWideChar(CP_ACP, 0): each character on its own, so that one invalid sequence
// costs one replacement. Code page 932 gives U+30FB for a character it lacks, 1252 maps every
// byte (its five unassigned ones to the C1 control of the same value), UTF-8 gives U+FFFD.
std::u16string ToWide(const std::string& ansi, bool* exact)
{
    std::u16string units;
    if (exact) *exact = true;
    for (std::size_t at = 0; at < ansi.size();) {
        std::size_t size = 1;
        unsigned char byte = static_cast<unsigned char>(ansi[at]);
        if (IsLeadByte(byte) && at + 1 < ansi.size() && ansi[at + 1] != 0) size = 2;
        if (ansiCodePage == 65001 && byte >= 0xC0) {
            std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
            if (at + length <= ansi.size()) size = length;
        }
        std::string utf16;
        if (Convert(IconvName(), "UTF-16LE", ansi.substr(at, size), &utf16) && !utf16.empty()) {
            units += FromUtf16Bytes(utf16);
        } else {
            if (exact) *exact = false;
            units.push_back(ansiCodePage == 932    ? u'\u30fb'
                            : ansiCodePage == 1252 ? static_cast<char16_t>(byte)
                                                   : u'\ufffd');
            size = ansiCodePage == 65001 ? 1 : size;
        }
        at += size;
    }
    return units;
}

// As WideCharToMultiByte(CP_ACP, 0): a character the code page lacks becomes its best fit or
// '?', and *exact is false.
std::string ToAnsi(const std::u16string& wide, bool* exact)
{
    std::string ansi;
    if (exact) *exact = true;
    for (std::size_t at = 0; at < wide.size(); ++at) {
        std::size_t size =
            (wide[at] >= 0xD800 && wide[at] < 0xDC00 && at + 1 < wide.size()) ? 2 : 1;
        std::string bytes;
        if (Convert("UTF-16LE", IconvName(), ToUtf16Bytes(wide.substr(at, size)), &bytes) &&
            !bytes.empty()) {
            ansi += bytes;
        } else {
            if (exact) *exact = false;
            ansi.push_back(BestFit(wide[at]));
        }
        at += size - 1;
    }
    return ansi;
}

std::string ToUtf8(const std::u16string& wide)
{
    std::string utf8;
    Convert("UTF-16LE", "UTF-8", ToUtf16Bytes(wide), &utf8);
    return utf8;
}

std::u16string FromUtf8(const std::string& utf8)
{
    std::string utf16;
    Convert("UTF-8", "UTF-16LE", utf8, &utf16);
    return FromUtf16Bytes(utf16);
}

}  // namespace sim

namespace os {

// Code page 932: a lead byte followed by a non-zero byte makes one character of two bytes.
// Windows steps byte by byte in code pages without lead bytes, UTF-8 among them (CharNextA
// asks IsDBCSLeadByte, which is false for every byte there); no separator or quote is ever
// inside a UTF-8 sequence, so nothing is cut wrongly. Stepping never passes the zero.
const char* CharNextA(const char* position)
{
    if (*position == 0) return position;
    if (IsLeadByte(static_cast<unsigned char>(position[0])) && position[1] != 0)
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

// CP_ACP is the simulated code page. With MB_ERR_INVALID_CHARS an invalid character fails
// the conversion, as on Windows.
int MultiByteToWideChar(unsigned, Dword flags, const char* text, int length, char16_t* wide,
                        int wideSize)
{
    std::string input = length < 0 ? std::string(text, std::char_traits<char>::length(text) + 1)
                                   : std::string(text, static_cast<std::size_t>(length));
    if (sim::EnterCall("MultiByteToWideChar(" + input.substr(0, input.find('\0')) + ")")) return 0;
    bool exact = true;
    std::u16string units = sim::ToWide(input, &exact);
    if ((flags & kMbErrInvalidChars) && !exact) return 0;
    if (static_cast<int>(units.size()) > wideSize) return 0;
    std::copy(units.begin(), units.end(), wide);
    return static_cast<int>(units.size());
}

// A character the code page lacks becomes its best fit or '?', as Windows converts without
// WC_NO_BEST_FIT_CHARS.
int WideCharToMultiByte(unsigned, Dword, const char16_t* wide, int length, char* text, int size)
{
    std::u16string input = length < 0
                               ? std::u16string(wide, std::char_traits<char16_t>::length(wide) + 1)
                               : std::u16string(wide, static_cast<std::size_t>(length));
    if (sim::EnterCall("WideCharToMultiByte(" + sim::ToUtf8(input.substr(0, input.find(u'\0'))) +
                       ")"))
        return 0;
    std::string bytes = sim::ToAnsi(input, nullptr);
    if (static_cast<int>(bytes.size()) > size) return 0;
    std::copy(bytes.begin(), bytes.end(), text);
    return static_cast<int>(bytes.size());
}

}  // namespace os

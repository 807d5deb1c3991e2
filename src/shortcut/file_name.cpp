#include "shortcut/file_name.h"

// The characters that Windows refuses in a file name, or reads as more than a name: the two
// separators, the colon that names a stream on NTFS, the wildcards, the quote and the pipe.
static const char16_t kRefused[] = u"\\/:*?\"<>|";

static int IsRefused(char16_t unit)
{
    if (unit < 0x20) return 1;  // control characters
    for (const char16_t* refused = kRefused; *refused != 0; ++refused)
        if (unit == *refused) return 1;
    return 0;
}

static char16_t UpperAscii(char16_t unit)
{
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

static int StartsWithLetters(const char16_t* name, const char16_t* letters)
{
    for (; *letters != 0; ++name, ++letters)
        if (UpperAscii(*name) != *letters) return 0;
    return 1;
}

// The digits of COM and LPT: 0 to 9, and the superscripts one, two and three.
static int IsPortDigit(char16_t unit)
{
    return (unit >= u'0' && unit <= u'9') || unit == u'\u00b9' || unit == u'\u00b2' ||
           unit == u'\u00b3';
}

// Windows opens a device for such a name, with any extension and trailing spaces: the part
// before the first '.', its trailing spaces removed, is CON, PRN, AUX, NUL, COMn or LPTn.
static int IsDeviceName(const char16_t* name, std::size_t length)
{
    std::size_t base = 0;
    while (base < length && name[base] != u'.') ++base;
    while (base > 0 && name[base - 1] == u' ') --base;
    if (base == 3)
        return StartsWithLetters(name, u"CON") || StartsWithLetters(name, u"PRN") ||
               StartsWithLetters(name, u"AUX") || StartsWithLetters(name, u"NUL");
    if (base == 4)
        return (StartsWithLetters(name, u"COM") || StartsWithLetters(name, u"LPT")) &&
               IsPortDigit(name[3]);
    return 0;
}

int IsPlainFileName(const char16_t* name, std::size_t length)
{
    for (std::size_t at = 0; at < length; ++at)
        if (IsRefused(name[at])) return 0;
    return !IsDeviceName(name, length);
}

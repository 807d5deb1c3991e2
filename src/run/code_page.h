// Texts between UTF-16 and the system's ANSI code page, kept only where the code page holds
// them exactly.
#ifndef FINISHSETUP_RUN_CODE_PAGE_H
#define FINISHSETUP_RUN_CODE_PAGE_H

#include <cstddef>

// The longest UTF-16 text ToExactCodePage takes, its zero included.
const std::size_t kExactUnits = 256;

// The count of UTF-16 units that the length bytes of text convert to (with
// MB_ERR_INVALID_CHARS) when those units are exactly the first ones of wide, which ends at its
// zero unit; -1 otherwise, and when they would take MAX_PATH units or more.
int WidenedPrefix(const char* text, std::size_t length, const char16_t* wide);

// Converts wide into text in the code page, cut at whole characters to capacity - 1 bytes.
// 1 when what is kept converts back to exactly the units it came from. Otherwise 0, and text
// is empty: the code page has only a look-alike ("Cafe" for "Café") or '?', which would name
// something else.
int ToExactCodePage(const char16_t* wide, char* text, std::size_t capacity);

#endif

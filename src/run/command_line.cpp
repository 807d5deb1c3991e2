#include "run/command_line.h"

// The tail is found in UTF-16, where every character the user typed is itself: no unit of
// another character equals '"' (surrogates and the second bytes of code page 932 alike), and
// no best-fit look-alike of a quote, as the ANSI copy holds (U+FF02 as '"' under code page
// 1252), ends a quoted name early.
static const char16_t* SkipQuotedName(const char16_t* position)
{
    ++position;
    while (*position != 0 && *position != u'"') ++position;
    if (*position == u'"') ++position;
    return position;
}

static const char16_t* SkipPlainName(const char16_t* position)
{
    while (*position > u' ') ++position;
    return position;
}

const char16_t* CommandLineTail(const char16_t* commandLine)
{
    const char16_t* position =
        *commandLine == u'"' ? SkipQuotedName(commandLine) : SkipPlainName(commandLine);
    while (*position != 0 && *position <= u' ') ++position;
    return position;
}

#include "run/command_line.h"

#include "platform/platform.h"

// A quoted program name runs to the closing quote, stepping over double-byte characters
// whole so that a trail byte equal to '"' does not end it.
static const char* SkipQuotedName(const char* position)
{
    position = os::CharNextA(position);
    while (*position != 0 && *position != '"') position = os::CharNextA(position);
    if (*position == '"') ++position;
    return position;
}

static const char* SkipPlainName(const char* position)
{
    while (static_cast<unsigned char>(*position) > ' ') ++position;
    return position;
}

const char* CommandLineTail(const char* commandLine)
{
    const char* position =
        *commandLine == '"' ? SkipQuotedName(commandLine) : SkipPlainName(commandLine);
    while (*position != 0 && static_cast<unsigned char>(*position) <= ' ') ++position;
    return position;
}

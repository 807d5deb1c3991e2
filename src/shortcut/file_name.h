#ifndef FINISHSETUP_SHORTCUT_FILE_NAME_H
#define FINISHSETUP_SHORTCUT_FILE_NAME_H

#include <cstddef>

// 1 when the length units of name, in UTF-16, make one plain file name in its folder; 0 when
// Windows would take them for something else: a path (a separator, "..\..\Cal"), a stream of
// another file ("Cal: Pro"), a wildcard, a quote, a pipe or a control character, or a device
// (NUL, COM1, "Aux.Cal"). The empty name is plain.
int IsPlainFileName(const char16_t* name, std::size_t length);

#endif

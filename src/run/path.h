// Separator tests that step through paths character by character, so that the second byte of
// a double-byte character (which may equal '\\') is never taken for a separator.
#ifndef FINISHSETUP_RUN_PATH_H
#define FINISHSETUP_RUN_PATH_H

#include <cstddef>

// 1 when the character at position is a single byte '\\' or '/'.
int IsPathSeparator(const char* position);

// The last separator in text, or nullptr when it has none.
const char* FindLastPathSeparator(const char* text);

// 1 when the last character of text is a single-byte '\\' (a slash does not count).
int EndsWithBackslash(const char* text);

// Appends fileName to the folder path in buffer, with a backslash between them unless the
// path ends with one. 1 when the whole fits the capacity; otherwise 0, the buffer unchanged.
int AppendFileName(char* buffer, std::size_t capacity, const char* fileName);

// Copies a registry key path into buffer with each run of backslashes made one and a leading
// or trailing backslash dropped, stepping by characters: a trail byte 0x5C is kept as it is.
// 1 when the whole fits the capacity; otherwise 0, the buffer holding the empty string.
int CollapseKeyPath(char* buffer, std::size_t capacity, const char* keyPath);

#endif

// Separator tests that step through paths character by character, so that the second byte of
// a double-byte character (which may equal '\\') is never taken for a separator.
#ifndef FINISHSETUP_RUN_PATH_H
#define FINISHSETUP_RUN_PATH_H

#include <cstddef>

// 1 when the character at position is a single byte '\\' or '/'.
int IsPathSeparator(const char* position);

// The last separator in text, or nullptr when it has none.
const char* FindLastPathSeparator(const char* text);

// The name after the last separator ('\\' or '/') of a UTF-16 path, where no unit of another
// character equals one; the whole path when it has none.
const char16_t* LastPathName(const char16_t* path);

// 1 when the last character of text is a single-byte '\\' (a slash does not count).
int EndsWithBackslash(const char* text);

// Appends fileName to the folder path in buffer, with a backslash between them unless the
// path ends with one. 1 when the whole fits the capacity; otherwise 0, the buffer unchanged.
int AppendFileName(char* buffer, std::size_t capacity, const char* fileName);

// 1 when every name of the registry key path between its backslashes is non-empty: no
// leading, trailing or doubled backslash, stepping by characters (a trail byte 0x5C is no
// separator). Windows' tree search takes an empty name for a key named "", which no key is.
int IsWholeKeyPath(const char* keyPath);

#endif

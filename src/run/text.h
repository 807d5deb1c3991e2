// Bounded operations on zero-terminated byte strings held in fixed buffers.
#ifndef FINISHSETUP_RUN_TEXT_H
#define FINISHSETUP_RUN_TEXT_H

#include <cstddef>

// Bytes 'A'..'Z' fold to 'a'..'z'; every other byte compares by its unsigned value.
int MatchesIgnoringCase(const char* left, const char* right);

// Length of the text in a buffer of the given capacity; capacity when it holds no terminator.
std::size_t BoundedLength(const char* buffer, std::size_t capacity);

// Each returns 1 when the whole result fits the buffer with its terminator, and 0 otherwise,
// leaving the buffer as it was: text is never cut.
int CopyText(char* buffer, std::size_t capacity, const char* text);
int AppendText(char* buffer, std::size_t capacity, const char* text);
// Encloses the text in buffer in double quotes, on the same terms.
int QuoteText(char* buffer, std::size_t capacity);

#endif

// Bounded text building on fixed buffers: nothing is written beyond the
// buffer, and text that does not fit is shortened visibly with "...".
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(__GNUC__)
#define KESTROVA_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define KESTROVA_PRINTF(f, a)
#endif

// Appends formatted text at the end of the terminated text in buffer. When it
// does not fit, the text is cut at a character boundary and ends with "...";
// returns false then (and for every later append to the same full buffer).
bool AppendFormat(char* buffer, std::size_t size, const char* format, ...) KESTROVA_PRINTF(3, 4);
bool AppendFormatV(char* buffer, std::size_t size, const char* format, va_list arguments);

// Formats into buffer from its start, with the same shortening rule.
bool FormatText(char* buffer, std::size_t size, const char* format, ...) KESTROVA_PRINTF(3, 4);

// Cuts a terminated UTF-8 text to at most maxBytes bytes without splitting a
// character.
void CutUtf8(char* text, std::size_t maxBytes);

// Copies a text template (a string-table entry) into buffer with its first
// "%s" or "%d" replaced by value and "%%" by "%"; the template is never used
// as a printf format. Shortened visibly when it does not fit.
void SubstituteText(char* buffer, std::size_t size, const char* textTemplate, const char* value);

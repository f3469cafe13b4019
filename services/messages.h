// String-table texts with their one placeholder filled in, and the questions
// asked with them.
#pragma once

#include <cstddef>

// A string-table text with its placeholder replaced by value (never used as
// a printf format).
void FormatTableText(int stringId, const char* value, char* buffer, std::size_t size);
// Asks the Yes/No question of a string-table text holding a list; the text
// asked is left in buffer. true: go on.
bool AskTableText(int stringId, const char* list, char* buffer, std::size_t size);

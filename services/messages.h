// Message boxes of the program: owned by the dialog that raises them, with the
// caption " Orvello" and the icon rules, and string-table texts with their
// one placeholder filled in.
#pragma once

#include <cstddef>

#include "platform/platform.h"

void ShowInfo(Window owner, const char* text);
// true when the user answered Yes.
bool AskYesNo(Window owner, const char* text);
// true when the user answered OK.
bool AskWarningOkCancel(Window owner, const char* text);

// A string-table text with its placeholder replaced by value (never used as
// a printf format).
void FormatTableText(int stringId, const char* value, char* buffer, std::size_t size);
// Asks the Yes/No question of a string-table text holding a list; the text
// asked is left in buffer.
bool AskTableText(Window owner, int stringId, const char* list, char* buffer, std::size_t size);

// Message boxes of the program: owned by the dialog that raises them, with the
// caption " Orvello" and the icon rules, and string-table texts with their
// one placeholder filled in. Unattended (the command line), no box is shown:
// the text is written to the console and questions are answered by /yes.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Unattended from now on: questions are answered as yesToAll says (true:
// go on with the run), and a question answered "stop" is remembered.
void SetUnattended(bool yesToAll);
bool IsUnattended();
// Whether an unattended question has stopped something since SetUnattended.
bool QuestionDeclined();

void ShowInfo(Window owner, const char* text);
// true when the user answered Yes.
bool AskYesNo(Window owner, const char* text);
// A question whose Yes gives up the operation; true when the user gave it up.
bool AskToAbandon(Window owner, const char* text);
// true when the user answered OK.
bool AskWarningOkCancel(Window owner, const char* text);

// A string-table text with its placeholder replaced by value (never used as
// a printf format).
void FormatTableText(int stringId, const char* value, char* buffer, std::size_t size);
// Asks the Yes/No question of a string-table text holding a list; the text
// asked is left in buffer.
bool AskTableText(Window owner, int stringId, const char* list, char* buffer, std::size_t size);

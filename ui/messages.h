// Message boxes of the program: owned by the dialog that raises them, with
// the caption " Orvello" (leading blank included) and the icon rules.
#pragma once

#include "platform/platform.h"

constexpr inline char kBoxCaption[] = " Orvello";

void ShowInfo(Window owner, const char* text);
// true when the user answered Yes.
bool AskYesNo(Window owner, const char* text);
// true when the user answered OK.
bool AskWarningOkCancel(Window owner, const char* text);

// Copies a text template (a string table entry) into buffer with its first
// "%s" or "%d" replaced by value and "%%" by "%"; never uses the template as a
// printf format. Shortened visibly when it does not fit.
void SubstituteText(char* buffer, std::size_t size, const char* textTemplate, const char* value);

// The usage dialog: marks ranges of COM numbers in the database as claimed or
// free. Its owner gives the focus back to the start list when it closes.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// The usage dialog while it is open, else nullptr; user-interface thread only.
extern Window usageDialog;

intptr_t KESTROVA_CALLBACK UsageDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);
void FillUsageRanges();
// 1 when the whole range was processed, 0 after a refusal, failure or cancel.
int ApplyUsageRange(bool release);

// What the portable tests need beyond the platform seam: open a dialog, pump
// its messages, answer message boxes, read controls back and act as the user
// on the log. Implemented over the in-memory platform for native runs
// (harness_model.cpp) and over real Win32 controls under Wine
// (harness_win32.cpp).
#pragma once

#include <string>

#include "platform/platform.h"

// Creates a dialog from a template, modeless, owned by the calling thread
// (which becomes its user-interface thread), and shows it.
Window HarnessOpenDialog(int templateId, DialogProc proc);
// Destroys a dialog opened with HarnessOpenDialog.
void HarnessCloseDialog(Window dialog);

// Runs the calling thread's pending sent and posted messages once.
void HarnessPump();
// Pumps until done(context) is true or timeoutMs passed; returns done(context).
bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs);

// Message boxes, from any thread, are recorded and answered from a queue of
// scripted answers; a box with no queued answer gets its default (OK or Yes)
// and is counted as unscripted.
struct HarnessBox {
    Window owner;
    unsigned kind;  // kBoxInfoOk, kBoxInfoYesNo, kBoxWarningOkCancel, kBoxWarningOk
    std::string text;
    std::string caption;
};
void HarnessQueueAnswer(int answer);
int HarnessBoxCount();
HarnessBox HarnessBoxAt(int index);
int HarnessUnscriptedBoxes();
void HarnessResetBoxes();  // forgets recorded boxes and queued answers

// Texts read back as UTF-8; "<missing>" when the control or row is not there.
std::string HarnessText(Window dialog, int id);              // window text: an edit's text, a button's label
std::string HarnessRowText(Window dialog, int id, int row);  // of a list or combo box
bool HarnessHasFocus(Window dialog, int id);

// The edit control's length in UTF-16 units, and its selection placed as by
// the user (EM_SETSEL); see ModelSetEditSelection.
int HarnessEditLength(Window dialog, int id);
void HarnessSetEditSelection(Window dialog, int id, int start, int end);

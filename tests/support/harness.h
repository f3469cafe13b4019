// What the portable tests need beyond the platform seam: open a dialog, pump
// its messages, answer message boxes and read controls back. Implemented over
// the in-memory platform for native runs (harness_model.cpp) and over real
// Win32 controls for runs under Wine (harness_win32.cpp).
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Creates a dialog from a template, modeless, owned by the calling thread
// (which becomes its user-interface thread), and sends it the initialise
// message.
Window HarnessOpenDialog(int templateId, DialogProc proc);
// Destroys a dialog opened with HarnessOpenDialog (its procedure sees the
// destroy message) unless the program already did.
void HarnessCloseDialog(Window dialog);

// Runs the calling thread's pending sent and posted messages once.
void HarnessPump();
// Pumps until done(context) is true or timeoutMs passed; returns done(context).
bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs);

// Message boxes shown by the program are recorded and answered from a queue
// of scripted answers; a box with no queued answer is answered with its
// default (OK, Yes, or OK) and counted as unscripted.
struct HarnessBox {
    Window owner;
    unsigned kind;  // kBoxInfoOk, kBoxInfoYesNo, kBoxWarningOkCancel, kBoxWarningOk
    char text[10240];
    char caption[128];
};
void HarnessQueueAnswer(int answer);
int HarnessBoxCount();
const HarnessBox& HarnessBoxAt(int index);
int HarnessUnscriptedBoxes();
void HarnessResetBoxes();  // forgets recorded boxes and queued answers

// A modal dialog run by the program (RunModalDialog) with this template is
// handed to driver after its initialise message; the driver works it and ends
// it with EndModalDialog. If the driver returns without ending it, the harness
// ends it with 2 (cancel).
using HarnessDriver = void (*)(Window dialog, void* context);
void HarnessSetModalDriver(int templateId, HarnessDriver driver, void* context);

// Reading controls back; texts are UTF-8, truncated to the buffer. Each
// returns the full length of the text, or -1 when the row or control is missing.
int HarnessListText(Window dialog, int id, int row, char* buffer, std::size_t size);
int HarnessComboText(Window dialog, int id, int row, char* buffer, std::size_t size);
int HarnessEditText(Window dialog, int id, char* buffer, std::size_t size);
int HarnessControlText(Window dialog, int id, char* buffer, std::size_t size);
int HarnessStatusText(Window dialog, int id, char* buffer, std::size_t size);
int HarnessWindowTitle(Window window, char* buffer, std::size_t size);
int HarnessProgressMax(Window dialog, int id);
int HarnessProgressPos(Window dialog, int id);
bool HarnessHasFocus(Window dialog, int id);
// Whether PostQuit was called since the last reset, and its code.
bool HarnessQuitPosted(int* code);
void HarnessResetQuit();

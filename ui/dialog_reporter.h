// The main dialog's reporter: log text into its log edit, progress onto the
// progress bar, questions and information in boxes owned by the dialog the
// user is in. On the dialog's own thread each report is shown at once.
// Another thread's log text and progress wait in a queue that the dialog
// empties when it gets kMsgReportsQueued, so a run never waits for the
// window, except for the answer to a question (kMsgAskUser).
#pragma once

#include "platform/platform.h"

constexpr inline unsigned kMsgReportsQueued = 0x8001;  // WM_APP + 1
constexpr inline unsigned kMsgAskUser = 0x8003;        // WM_APP + 3; lParam: the question

// From the dialog's initialisation on, on its thread.
void InstallDialogReporter(Window dialog);
// On kMsgReportsQueued: everything queued into the controls, in order.
void ShowQueuedReports();
// On kMsgAskUser.
void AnswerQueuedQuestion(intptr_t question);
// The boxes' owner: the usage dialog while it is open, else the main dialog.
void SetBoxOwner(Window owner);

// Every box of the program: the caption " Orvello" and the icon rules.
int ShowProgramBox(Window owner, const char* text, unsigned kind);

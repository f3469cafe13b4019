// The main dialog's log edit as the dialog's own thread writes it. The log's
// text from the start (the edit takes a good part of a second for a big rig's
// tree summary) is held until the window shows with its lists; then a timer
// puts it into the edit a piece at a time. Timer messages come after input
// and drawing, so the window draws and answers while the log fills. Text
// logged meanwhile queues behind it. User-interface thread only.
#pragma once

#include "platform/platform.h"

// At the dialog's initialisation: from now on the log's text is held.
void HoldLogEdit();
// Appends text to edit id of the dialog, behind any held text.
void AppendToLogEdit(Window dialog, int id, const char* text);
// The window shows: the held text starts going into the edit.
void ReleaseLogEdit(Window dialog);
// On the timer: the next piece of held text into the edit; once none is
// left, the text goes in as it comes.
void ShowHeldLogText(Window dialog);
// Empties the log, held text included.
void ClearLogEdit(Window dialog);

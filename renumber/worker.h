// The rename run: confirms the risks its mapping shows, takes the devices
// offline, renames their ports, brings them back and reports every port.
#pragma once

#include <atomic>

#include "platform/platform.h"
#include "renumber/run.h"

// Set while a run exists, from the Change click that claims it to the end of
// the run's last step. Written only on the user-interface thread (by
// StartRenameRun and EndRenameRun); read on both.
extern std::atomic<int> busyFlag;

// Sent by the worker to the main dialog when its work is done; the dialog's
// procedure then calls EndRenameRun on its own thread (WM_APP + 2).
constexpr inline unsigned kMsgRunEnded = 0x8002;

// On the user-interface thread: claims the run with the request read once
// from the dialog and starts the worker. false when a run exists already
// (logged) or the thread could not start.
bool StartRenameRun(const RunRequest& request);

// On the user-interface thread, in one step: the start list moves to the first
// free number, the lists are enumerated again, and only then is the run
// released.
void EndRenameRun();

// The worker thread's routine.
unsigned KESTROVA_CALLBACK RenamePortsThread(void* unused);

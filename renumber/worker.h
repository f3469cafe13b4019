// The rename run: confirms the risks its mapping shows, takes the devices
// offline, renames their ports, brings them back and reports every port.
// Every run (dialog, command line, undo, recovery) holds the machine's run
// lock for its whole length and keeps a journal of what it changes.
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

// How long a run waits for another run on the machine to end.
constexpr inline unsigned kRunLockWaitMs = 3000;

// How a run ended, as the command line reports it.
enum class RunOutcome { Done, PortFailed, Declined, NothingToDo, Busy };

// On the user-interface thread: claims the run (and the machine's run lock)
// with the request read once from the dialog and starts the worker. Starts
// nothing when a run exists already, another run holds the machine (a box)
// or the thread cannot start (logged).
void StartRenameRun(const RunRequest& request);
// The same for undoing the last finished run.
void StartUndoRun();

// On the user-interface thread, in one step: the start list moves to the first
// free number, the lists are enumerated again, and only then is the run
// released (and the machine's run lock).
void EndRenameRun();

// The worker thread's routine: nullptr runs the rename of the request given
// to StartRenameRun, anything else the undo.
unsigned KESTROVA_CALLBACK RenamePortsThread(void* undo);

// The command line: a whole run on the calling thread, from the claim to the
// end; request nullptr undoes the last finished run.
RunOutcome RunHere(const RunRequest* request);

// At start, with the machine's run lock held and the lists enumerated: a
// journal of a run that did not finish makes every card that run switched
// off switch on again; what was found and done is logged, and the journal is
// closed. Returns how many ports that run had renamed (undo can put them
// back), or -1 when no run was left unfinished.
int RecoverInterruptedRun();

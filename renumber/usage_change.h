// Changes of the COM database that undo can put back: the usage dialog's
// ranges and the release of stale claims. Each holds the machine's run lock,
// writes the numbers it is about to change and their state before to the
// journal, then changes them one by one, journalling each. A number another
// program puts in the state asked for meanwhile is left out; the summary
// names exactly what was changed here and what could not be.
#pragma once

#include "renumber/journal.h"
#include "renumber/worker.h"

// Rows of the number lists: COM row+1; -1 (or a row past the lists) for none. Refuses a missing end
// and the system's COM1 and COM2 (logged and told); asks before releasing.
// 1 when the whole range was processed, 0 after a refusal, failure or cancel.
int ChangeUsageRange(bool release, int fromRow, int toRow);

// Frees every claimed number nothing holds (see IsStaleClaim; the cards of
// every category enumerated once the lock is held), after a question that
// lists them and the numbers kept for absent devices. With preview only the
// list is written.
RunOutcome ReleaseStaleClaims(bool preview);

// With the run lock held: puts the numbers a finished database change
// changed back to their state before it, itself a database change; a number
// another program changed since is left alone and named.
RunOutcome UndoDatabaseChange(const Journal& change);

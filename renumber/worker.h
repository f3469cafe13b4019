// The rename run: takes the machine, finds the cards again, confirms the
// risks its mapping shows, takes the devices offline, renames their ports,
// brings them back and reports every port. Every run (rename, undo,
// recovery) holds the machine's run lock from its first step to its last,
// works on cards it enumerates itself once it holds the lock, and keeps a
// journal of what it changes. Everything it says goes to the reporter.
#pragma once

#include "inventory/device_table.h"
#include "renumber/journal.h"
#include "renumber/port_layout.h"
#include "renumber/run.h"

// How long a run waits for another run on the machine to end.
constexpr inline unsigned kRunLockWaitMs = 3000;

// How a run ended, as the command line reports it.
// CardsMissing: a layout was applied to the cards present, and some of its
// cards were not.
enum class RunOutcome { Done, PortFailed, Declined, NothingToDo, Busy, CardsChanged, CardsMissing };

// Whole runs on the calling thread. A rename maps the request over the cards
// it finds; when they are not the cards seen (what the request's rows name),
// it stops before any change.
RunOutcome RunRename(const RunRequest& request, const DeviceTable& seen);
// Gives the ports of the layout's cards, in every category, the layout's
// numbers: a run of just the ports whose number differs, switching off just
// their cards. It stops before any change when the cards are not the ones
// seen (every category, by position).
RunOutcome RunApply(const PortLayout& layout, const DeviceTable& seen);
// Puts the ports of the last finished run back to their numbers before it.
RunOutcome RunUndo();

// What the recovery found of a run that did not finish.
struct Recovery {
    bool refused;  // the journal could not be used: reason says why (logged)
    char reason[kJournalReasonSize];
    bool found;
    bool undo;              // that run was an undo: undo now finishes it
    bool database;          // that run changed the COM database: ports and renamed count its numbers
    unsigned ports;         // in that run's mapping
    unsigned renamed;       // of those, renamed (undo can put them back)
    unsigned missingCards;  // switched off by it and not found to switch on
};
// At start, only when no other run holds the machine (it may be the run
// whose journal is open): a journal of a run that did not finish makes every
// card that run switched off switch on again; what was found and done is
// logged, and the journal is closed. false when there was nothing to mend.
bool RecoverInterruptedRun(Recovery& recovery);

// The category the last run's cards were enumerated under; false without a
// usable journal, or when the last change was one of the COM database.
bool LastRunCategory(int* category);

// A run for the worker thread: what to run, and who hears of its end.
struct RunJob {
    bool undo;
    const PortLayout* layout;  // an apply of this layout, else a rename of request
    RunRequest request;
    const DeviceTable* seen;
    void (*ended)(RunOutcome outcome);
};
// The worker thread's routine: runs the job (a RunJob*), then calls its ended
// on this thread.
unsigned KESTROVA_CALLBACK RenamePortsThread(void* job);

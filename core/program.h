// The program without a window: the cards as last listed, the run that may
// be going on, and the operations both front ends (the main dialog and the
// command line) call. Each piece of state here has this one owner; the
// front ends pass the user's choices in and show what comes back, and every
// operation reports through the reporter the front end installed.
#pragma once

#include <atomic>
#include <cstdint>

#include "inventory/device_table.h"
#include "renumber/run.h"
#include "renumber/worker.h"

// ---- the listing: what the lists show and what a request's rows name ----
// Written only by ListCards, on the front end's thread; a run reads it as the
// cards the user saw.
const DeviceTable& ListedCards();
int ListedCategory();
int ListedOrder();
// Enumerates into the listing (category and order as the combos' rows, -1
// when a combo has none); the front end shows the lists, then logs the tree
// summary with LogListedSummary. Returns the count.
std::uint32_t ListCards(int category, int order);
void LogListedSummary();

// ---- runs ----
// Set while a run exists, from the request that claims it to the end of the
// front end's last step. Written only on the front end's thread; read on
// both.
extern std::atomic<int> busyFlag;
// Claims the run and starts it on a worker thread; ended is called there when
// the work is done, and the front end then ends the run with EndRun. false
// when a run exists already (logged) or the thread did not start (logged).
bool StartRenameRun(const RunRequest& request, void (*ended)(RunOutcome outcome));
bool StartUndoRun(void (*ended)(RunOutcome outcome));
void EndRun();
// For the core's own runs: the claim, and a job started on the worker.
bool ClaimRun();
bool StartRunJob(const RunJob& job);
// The same on the calling thread, from the claim to the end.
RunOutcome RenameHere(const RunRequest& request);
RunOutcome UndoHere();
// The mapping of a request over the listing, to the reporter's output.
bool PreviewRequest(const RunRequest& request);

// ---- the COM database's claims ----
// Who holds each claimed number, and the ports whose numbers are not
// claimed, to the reporter's output.
void ShowClaims();
// Frees the claimed numbers nothing holds (renumber/usage_change.h), on the
// calling thread, as a run: refused while one exists.
RunOutcome ReleaseStaleHere(bool preview);

#include "core/program.h"

#include "inventory/views.h"
#include "renumber/claims.h"
#include "renumber/usage_change.h"
#include "resources/strings.h"
#include "services/log.h"

std::atomic<int> busyFlag{0};

namespace {

DeviceTable listing;
int listedCategory = 0;
int listedOrder = 0;

// The classification ShowClaims writes; too big for a stack.
DeviceTable claimCards;
HolderTable claimHolders;

// The job the worker runs: written before it starts, then only read by it.
RunJob runJob;

}  // namespace

bool ClaimRun() {
    if (busyFlag.load() != 0) {
        LogMessage(kLogRunRefused);
        return false;
    }
    busyFlag.store(1);
    return true;
}

bool StartRunJob(const RunJob& job) {
    if (!ClaimRun()) {
        return false;
    }
    runJob = job;
    if (!StartThread(RenamePortsThread, &runJob)) {
        LogLastError("CreateThread");
        busyFlag.store(0);
        return false;
    }
    return true;
}

const DeviceTable& ListedCards() { return listing; }
int ListedCategory() { return listedCategory; }
int ListedOrder() { return listedOrder; }

std::uint32_t ListCards(int category, int order) {
    listedCategory = category;
    listedOrder = order;
    return EnumerateCards(listing, category, order);
}

void LogListedSummary() { LogTreeSummary(listing); }

bool StartRenameRun(const RunRequest& request, void (*ended)(RunOutcome)) {
    return StartRunJob(RunJob{false, nullptr, request, &listing, ended});
}

bool StartUndoRun(void (*ended)(RunOutcome)) {
    return StartRunJob(RunJob{true, nullptr, RunRequest{}, &listing, ended});
}

void EndRun() { busyFlag.store(0); }

RunOutcome RenameHere(const RunRequest& request) {
    if (!ClaimRun()) {
        return RunOutcome::Busy;
    }
    RunOutcome outcome = RunRename(request, listing);
    EndRun();
    return outcome;
}

RunOutcome UndoHere() {
    if (!ClaimRun()) {
        return RunOutcome::Busy;
    }
    RunOutcome outcome = RunUndo();
    EndRun();
    return outcome;
}

bool PreviewRequest(const RunRequest& request) { return PreviewRun(listing, request); }

void ShowClaims() {
    ClassifyMachine(claimCards, claimHolders);
    WriteClaims(claimHolders);
}

RunOutcome ReleaseStaleHere(bool preview) {
    if (!ClaimRun()) {
        return RunOutcome::Busy;
    }
    RunOutcome outcome = ReleaseStaleClaims(preview);
    EndRun();
    return outcome;
}

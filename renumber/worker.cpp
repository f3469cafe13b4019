#include "renumber/worker.h"

#include "comdb/number_usage.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "renumber/journal.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/state.h"
#include "text/bounded_text.h"

std::atomic<int> busyFlag{0};

namespace {

constexpr std::size_t kResultSize = 10240;
constexpr std::size_t kRepeatListSize = 4096;
constexpr std::size_t kLeftAloneSize = 4096;
constexpr unsigned kRenamePauseMs = 10;
constexpr unsigned kEnablePauseMs = 10;

// The run's request: written by StartRenameRun before the worker starts, then
// only read by the worker.
RunRequest runRequest;
// The worker's mapping and texts, too big for its stack.
RunMapping runMapping;
char resultText[kResultSize];
// The journal undo and recovery read; only the run holding the lock uses it.
Journal lastJournal;

int undoRun = 1;

void SetProgressRange(int maximum) { ProgressSetRange(mainDialog, IDC_PROGRESS, maximum); }
void SetProgress(int position) { ProgressSetPos(mainDialog, IDC_PROGRESS, position); }

const char* Outcome(int ok) { return ok != 0 ? kTextSuccess : kTextFailure; }

// The hub plan only makes sense for cards of one kind. true: go on.
bool ConfirmMixedCards(unsigned listedCards) {
    for (unsigned d = 1; d < listedCards; ++d) {
        if (PortCountOf(deviceTable.slots[d]) != PortCountOf(deviceTable.slots[d - 1])) {
            return !AskToAbandon(mainDialog, kTextMixedCards);
        }
    }
    return true;
}

// The selected-port scope writes its one line with the break after it, the
// card scopes each line with the break before it. Each rename is journalled
// before the next one starts.
int RenamePort(unsigned index, const PortTarget& entry, bool breakAfter, char* result) {
    PortRecord& port = deviceTable.slots[entry.card].ports[entry.port];
    int ok = entry.target != 0 ? ModifyCOMName(port.portName, entry.target) : 0;
    if (ok != 0) {
        runJournal.ports[index].renamed = true;
        SaveJournal(runJournal);
    }
    char description[kUtf8Room<sizeof PortRecord::description>];
    char name[kUtf8Room<sizeof PortRecord::portName>];
    AppendFormat(result, kResultSize, "%s%s:%s==>COM%u: %s%s", breakAfter ? "" : "\r\n",
                 FieldText(port.description, description, sizeof description),
                 FieldText(port.portName, name, sizeof name), static_cast<unsigned>(entry.target), Outcome(ok),
                 breakAfter ? "\r\n" : "");
    return ok;
}

unsigned RenameSelectedPort(const PortTarget& entry, char* result) {
    PortRecord& port = deviceTable.slots[entry.card].ports[entry.port];
    SetProgressRange(3);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 0, kEnableWaitMs);
    SetProgress(1);
    unsigned failed = RenamePort(0, entry, true, result) != 0 ? 0 : 1;
    SetProgress(2);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 1, kEnableWaitMs);
    SetProgress(3);
    return failed;
}

bool IsIdle(const RunMapping& mapping, unsigned card) { return (mapping.idleCards >> card & 1u) != 0; }

unsigned RenameCards(const RunMapping& mapping, char* result) {
    unsigned first = mapping.firstCard;
    unsigned last = mapping.lastCard;
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    for (unsigned d = first; d < last; ++d) {
        if (IsIdle(mapping, d)) {
            continue;
        }
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 0, kDisableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(0);
    }
    SetProgressRange(static_cast<int>(PortCountOf(deviceTable.slots[first])) + 3);
    unsigned failed = 0;
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        failed += RenamePort(i, entry, false, result) != 0 ? 0 : 1;
        SetProgress(entry.port + 2);
        SleepMs(kRenamePauseMs);
        if (i + 1 == mapping.count || mapping.ports[i + 1].card != entry.card) {
            SetProgress(static_cast<int>(PortCountOf(deviceTable.slots[entry.card])) + 3);
        }
    }
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    LogMessage(kLogRestarting);
    for (unsigned d = first; d < last; ++d) {
        if (IsIdle(mapping, d)) {
            continue;
        }
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 1, kEnableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(kEnablePauseMs);
    }
    return failed;
}

// A mapped run from its checks to its report: the repeated-number refusal,
// the questions, the journal, the renames and the report (with note after
// it). Nothing changes before the whole mapping has been checked and the
// journal written.
RunOutcome RunMapped(RunMapping& mapping, bool portOnly, JournalKind kind, const char* note, char* result) {
    static char repeats[kRepeatListSize];
    if (MarkRepeats(mapping, repeats, sizeof repeats) != 0) {
        LogMessage(kLogRepeatedTargets, repeats);
        FormatText(result, kResultSize, kTextRepeatedTargets, repeats);
        ShowInfo(mainDialog, result);
        return RunOutcome::NothingToDo;
    }
    static char inUseList[kInUseListSize];
    static char claimedList[kClaimedListSize];
    ScanConflicts(mapping, inUseList, sizeof inUseList, claimedList, sizeof claimedList);
    if (inUseList[0] != '\0' && !AskTableText(mainDialog, IDS_PORTS_HELD, inUseList, result, kResultSize)) {
        LogMessage(kLogCancelledHeld);
        return RunOutcome::Declined;
    }
    SetProgress(2);
    if (claimedList[0] != '\0' && !AskTableText(mainDialog, IDS_NUMBERS_CLAIMED, claimedList, result, kResultSize)) {
        LogMessage(kLogCancelledClaimed);
        return RunOutcome::Declined;
    }
    SetProgress(3);
    result[0] = '\0';
    if (mapping.count == 0) {
        return RunOutcome::NothingToDo;
    }
    BeginJournal(mapping, portOnly, kind);
    if (!SaveJournal(runJournal)) {
        ShowInfo(mainDialog, kTextJournalNotSaved);
        return RunOutcome::PortFailed;
    }

    unsigned failed = portOnly ? RenameSelectedPort(mapping.ports[0], result) : RenameCards(mapping, result);
    runJournal.finished = true;
    SaveJournal(runJournal);
    if (inUseList[0] != '\0') {
        AppendFormat(result, kResultSize, kTextReplugHeld, inUseList);
    }
    if (note != nullptr && note[0] != '\0') {
        AppendFormat(result, kResultSize, "%s", note);
    }
    if (result[0] != '\0') {
        LogMessage("****%s", result);
        ShowInfo(mainDialog, result);
    }
    return failed != 0 ? RunOutcome::PortFailed : RunOutcome::Done;
}

RunOutcome RunRename(const RunRequest& request, RunMapping& mapping, char* result) {
    SetProgressRange(3);
    if (CheckRequest(request) != RunRefusal::None) {
        ShowInfo(mainDialog, kTextSelectDevice);
        return RunOutcome::NothingToDo;
    }
    SetProgress(1);
    if (request.plan.hubMode != 0) {
        if (!ConfirmMixedCards(request.listedCards)) {
            return RunOutcome::Declined;
        }
        if (IsUpstreamOnly(request)) {
            ShowInfo(mainDialog, kTextUpstreamOnly);
            return RunOutcome::NothingToDo;
        }
    }
    AppendLog("\r\n");
    LogMessage(kLogRunStart, static_cast<unsigned>(static_cast<std::uint16_t>(request.startRow + 1)));
    MapRun(request, mapping);
    return RunMapped(mapping, request.scope == RenameScope::SelectedPort, JournalKind::Rename, nullptr, result);
}

// Undo is a run of its own over the mapping the last finished run's journal
// gives back.
RunOutcome RunUndo(RunMapping& mapping, char* result) {
    SetProgressRange(3);
    static char reason[kJournalReasonSize];
    JournalLoad load = LoadJournal(lastJournal, reason, sizeof reason);
    if (load != JournalLoad::Loaded || !lastJournal.finished) {
        if (load == JournalLoad::Refused) {
            FormatText(result, kResultSize, kTextJournalRefused, reason);
        } else {
            FormatText(result, kResultSize, "%s", kTextNothingToUndo);
        }
        LogMessage("%s", result);
        ShowInfo(mainDialog, result);
        return RunOutcome::NothingToDo;
    }
    static char leftAlone[kLeftAloneSize];
    static char note[kLeftAloneSize + 256];
    note[0] = '\0';
    if (MapUndo(lastJournal, mapping, leftAlone, sizeof leftAlone) != 0) {
        LogMessage(kLogUndoLeftAlone, leftAlone);
        FormatText(note, sizeof note, kTextUndoLeftAlone, leftAlone);
    }
    if (mapping.count == 0) {
        FormatText(result, kResultSize, "%s%s", kTextNothingToUndo, note);
        ShowInfo(mainDialog, result);
        return RunOutcome::NothingToDo;
    }
    AppendLog("\r\n");
    LogMessage(kLogUndoStart, mapping.count);
    return RunMapped(mapping, lastJournal.portOnly, JournalKind::Undo, note, result);
}

bool ClaimRun() {
    if (busyFlag.load() != 0) {
        LogMessage(kLogRunRefused);
        return false;
    }
    if (!AcquireRunLock(kRunLockWaitMs)) {
        LogMessage(kLogMachineBusy);
        ShowInfo(mainDialog, kTextMachineBusy);
        return false;
    }
    busyFlag.store(1);
    return true;
}

// Undo and recovery find the journal's cards in the list of the category
// they were renamed under: the category combo is switched to it as the user
// would switch it. User-interface thread, outside a run.
void ListJournalCategory(const Journal& journal) {
    if (journal.category != currentCategory) {
        ComboSelectRow(mainDialog, IDC_CATEGORY, journal.category);
        SendDialogMessage(mainDialog, kMsgCommand, CommandParam(IDC_CATEGORY, kComboSelChange), 0);
    }
}

void ListLastRunCategory() {
    static char reason[kJournalReasonSize];
    if (busyFlag.load() == 0 && LoadJournal(lastJournal, reason, sizeof reason) == JournalLoad::Loaded) {
        ListJournalCategory(lastJournal);
    }
}

void StartWorker(void* undo) {
    if (!StartThread(RenamePortsThread, undo)) {
        LogLastError("CreateThread");
        busyFlag.store(0);
        ReleaseRunLock();
    }
}

}  // namespace

void StartRenameRun(const RunRequest& request) {
    if (ClaimRun()) {
        runRequest = request;
        StartWorker(nullptr);
    }
}

void StartUndoRun() {
    ListLastRunCategory();
    if (ClaimRun()) {
        StartWorker(&undoRun);
    }
}

void EndRenameRun() {
    FillStartNumbers(true);
    EnumerateDevices();
    busyFlag.store(0);
    ReleaseRunLock();
}

unsigned KESTROVA_CALLBACK RenamePortsThread(void* undo) {
    // The result text also carries the questions.
    resultText[0] = '\0';
    if (undo != nullptr) {
        RunUndo(runMapping, resultText);
    } else {
        RunRename(runRequest, runMapping, resultText);
    }
    SendDialogMessage(mainDialog, kMsgRunEnded, 0, 0);
    return 0;
}

RunOutcome RunHere(const RunRequest* request) {
    if (request == nullptr) {
        ListLastRunCategory();
    }
    if (!ClaimRun()) {
        return RunOutcome::Busy;
    }
    resultText[0] = '\0';
    RunOutcome outcome =
        request != nullptr ? RunRename(*request, runMapping, resultText) : RunUndo(runMapping, resultText);
    EndRenameRun();
    return outcome;
}

int RecoverInterruptedRun() {
    static char reason[kJournalReasonSize];
    JournalLoad load = LoadJournal(lastJournal, reason, sizeof reason);
    if (load == JournalLoad::Refused) {
        LogMessage(kLogJournalRefused, reason);
        return -1;
    }
    if (load == JournalLoad::Missing || lastJournal.finished) {
        return -1;
    }
    int renamed = 0;
    for (unsigned i = 0; i < lastJournal.portCount; ++i) {
        renamed += lastJournal.ports[i].renamed ? 1 : 0;
    }
    LogMessage(kLogRecoveryFound, lastJournal.portCount, static_cast<unsigned>(renamed));
    ListJournalCategory(lastJournal);
    for (unsigned k = 0; k < lastJournal.cardCount; ++k) {
        const JournalCard& card = lastJournal.cards[k];
        int slot = FindJournalCard(card);
        if (slot < 0) {
            LogMessage(kLogRecoveryCardMissing, card.usbId, card.location);
            continue;
        }
        DeviceRecord& record = deviceTable.slots[slot];
        if (lastJournal.portOnly) {
            PortRecord& port = record.ports[lastJournal.ports[0].port];
            ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 1, kEnableWaitMs);
        } else {
            ChangeDeviceStatus(DevInfoSetValue(record.devInfoSet), record.devInfo, 1, kEnableWaitMs);
        }
        LogMessage(kLogRecoveryEnabled, slot + 1, card.usbId, card.location);
    }
    lastJournal.finished = true;
    lastJournal.interrupted = true;
    if (SaveJournal(lastJournal)) {
        LogMessage(kLogRecoveryClosed);
    }
    EnumerateDevices();
    return renamed;
}

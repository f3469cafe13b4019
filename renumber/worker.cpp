#include "renumber/worker.h"

#include "comdb/number_usage.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/reporter.h"
#include "text/bounded_text.h"

namespace {

constexpr std::size_t kResultSize = 10240;
constexpr std::size_t kRepeatListSize = 4096;
constexpr std::size_t kLeftAloneSize = 4096;
constexpr unsigned kRenamePauseMs = 10;
constexpr unsigned kEnablePauseMs = 10;

// The run's own cards, enumerated once it holds the machine; only the run
// holding the lock reads or writes them.
DeviceTable runCards;
// The run's mapping and texts, too big for a stack.
RunMapping runMapping;
char resultText[kResultSize];
// The journal undo and recovery read; only the run holding the lock uses it.
Journal lastJournal;

void SetProgressRange(int maximum) { Report().ProgressRange(maximum); }
void SetProgress(int position) { Report().ProgressPosition(position); }

const char* Outcome(int ok) { return ok != 0 ? kTextSuccess : kTextFailure; }

// Holds the machine's run lock for one run, from its first step to its last.
class MachineLock {
public:
    MachineLock() : held_(AcquireRunLock(kRunLockWaitMs)) {}
    ~MachineLock() {
        if (held_) {
            ReleaseRunLock();
        }
    }
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;
    bool Held() const { return held_; }

private:
    bool held_;
};

RunOutcome MachineBusy() {
    LogMessage(kLogMachineBusy);
    Report().Tell(kTextMachineBusy);
    return RunOutcome::Busy;
}

// The hub plan only makes sense for cards of one kind. true: go on.
bool ConfirmMixedCards(const DeviceTable& table) {
    for (unsigned d = 1; d < table.count; ++d) {
        if (PortCountOf(table.slots[d]) != PortCountOf(table.slots[d - 1])) {
            return Report().Ask(Question::Abandon, kTextMixedCards);
        }
    }
    return true;
}

// The selected-port scope writes its one line with the break after it, the
// card scopes each line with the break before it. Each rename is journalled
// before the next one starts.
int RenamePort(unsigned index, const PortTarget& entry, bool breakAfter, char* result) {
    PortRecord& port = runCards.slots[entry.card].ports[entry.port];
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
    PortRecord& port = runCards.slots[entry.card].ports[entry.port];
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
        DeviceRecord& card = runCards.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 0, kDisableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(0);
    }
    SetProgressRange(static_cast<int>(PortCountOf(runCards.slots[first])) + 3);
    unsigned failed = 0;
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        failed += RenamePort(i, entry, false, result) != 0 ? 0 : 1;
        SetProgress(entry.port + 2);
        SleepMs(kRenamePauseMs);
        if (i + 1 == mapping.count || mapping.ports[i + 1].card != entry.card) {
            SetProgress(static_cast<int>(PortCountOf(runCards.slots[entry.card])) + 3);
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
        DeviceRecord& card = runCards.slots[d];
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
RunOutcome RunMapped(int category, RunMapping& mapping, bool portOnly, JournalKind kind, const char* note,
                     char* result) {
    static char repeats[kRepeatListSize];
    if (MarkRepeats(runCards, mapping, repeats, sizeof repeats) != 0) {
        LogMessage(kLogRepeatedTargets, repeats);
        FormatText(result, kResultSize, kTextRepeatedTargets, repeats);
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    static char inUseList[kInUseListSize];
    static char claimedList[kClaimedListSize];
    ScanConflicts(runCards, mapping, inUseList, sizeof inUseList, claimedList, sizeof claimedList);
    if (inUseList[0] != '\0' && !AskTableText(IDS_PORTS_HELD, inUseList, result, kResultSize)) {
        LogMessage(kLogCancelledHeld);
        return RunOutcome::Declined;
    }
    SetProgress(2);
    if (claimedList[0] != '\0' && !AskTableText(IDS_NUMBERS_CLAIMED, claimedList, result, kResultSize)) {
        LogMessage(kLogCancelledClaimed);
        return RunOutcome::Declined;
    }
    SetProgress(3);
    result[0] = '\0';
    if (mapping.count == 0) {
        return RunOutcome::NothingToDo;
    }
    BeginJournal(runCards, category, mapping, portOnly, kind);
    if (!SaveJournal(runJournal)) {
        Report().Tell(kTextJournalNotSaved);
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
        Report().Tell(result);
    }
    return failed != 0 ? RunOutcome::PortFailed : RunOutcome::Done;
}

RunOutcome RenameLocked(const RunRequest& request, const DeviceTable& seen, char* result) {
    SetProgressRange(3);
    if (CheckRequest(seen, request) != RunRefusal::None) {
        Report().Tell(kTextSelectDevice);
        return RunOutcome::NothingToDo;
    }
    // What the user chose from may have changed while this run waited for
    // the machine: another run, a card plugged in or out.
    EnumerateCards(runCards, request.category, request.order);
    if (!SameCards(runCards, seen)) {
        LogMessage(kLogCardsChanged);
        Report().Tell(kTextCardsChanged);
        return RunOutcome::CardsChanged;
    }
    SetProgress(1);
    if (request.plan.hubMode != 0) {
        if (!ConfirmMixedCards(runCards)) {
            return RunOutcome::Declined;
        }
        if (IsUpstreamOnly(request)) {
            Report().Tell(kTextUpstreamOnly);
            return RunOutcome::NothingToDo;
        }
    }
    AppendText("\r\n");
    LogMessage(kLogRunStart, static_cast<unsigned>(static_cast<std::uint16_t>(request.startRow + 1)));
    MapRun(runCards, request, runMapping);
    return RunMapped(request.category, runMapping, request.scope == RenameScope::SelectedPort, JournalKind::Rename,
                     nullptr, result);
}

// Undo is a run of its own over the mapping the last finished run's journal
// gives back, on the cards of the category that run enumerated.
RunOutcome UndoLocked(char* result) {
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
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    EnumerateCards(runCards, lastJournal.category, kOrderByPosition);
    static char leftAlone[kLeftAloneSize];
    static char note[kLeftAloneSize + 256];
    note[0] = '\0';
    if (MapUndo(lastJournal, runCards, runMapping, leftAlone, sizeof leftAlone) != 0) {
        LogMessage(kLogUndoLeftAlone, leftAlone);
        FormatText(note, sizeof note, kTextUndoLeftAlone, leftAlone);
    }
    if (runMapping.count == 0) {
        FormatText(result, kResultSize, "%s%s", kTextNothingToUndo, note);
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    AppendText("\r\n");
    LogMessage(kLogUndoStart, runMapping.count);
    return RunMapped(lastJournal.category, runMapping, lastJournal.portOnly, JournalKind::Undo, note, result);
}

}  // namespace

RunOutcome RunRename(const RunRequest& request, const DeviceTable& seen) {
    MachineLock lock;
    if (!lock.Held()) {
        return MachineBusy();
    }
    resultText[0] = '\0';
    return RenameLocked(request, seen, resultText);
}

RunOutcome RunUndo() {
    MachineLock lock;
    if (!lock.Held()) {
        return MachineBusy();
    }
    resultText[0] = '\0';
    return UndoLocked(resultText);
}

bool LastRunCategory(int* category) {
    static Journal journal;
    static char reason[kJournalReasonSize];
    if (LoadJournal(journal, reason, sizeof reason) != JournalLoad::Loaded) {
        return false;
    }
    *category = journal.category;
    return true;
}

bool RecoverInterruptedRun(Recovery& recovery) {
    recovery = Recovery{};
    if (!AcquireRunLock(0)) {
        return false;
    }
    JournalLoad load = LoadJournal(lastJournal, recovery.reason, sizeof recovery.reason);
    if (load == JournalLoad::Refused) {
        recovery.refused = true;
        LogMessage(kLogJournalRefused, recovery.reason);
    }
    if (load != JournalLoad::Loaded || lastJournal.finished) {
        ReleaseRunLock();
        return false;
    }
    recovery.found = true;
    recovery.ports = lastJournal.portCount;
    for (unsigned i = 0; i < lastJournal.portCount; ++i) {
        recovery.renamed += lastJournal.ports[i].renamed ? 1 : 0;
    }
    LogMessage(kLogRecoveryFound, recovery.ports, recovery.renamed);
    EnumerateCards(runCards, lastJournal.category, kOrderByPosition);
    for (unsigned k = 0; k < lastJournal.cardCount; ++k) {
        const JournalCard& card = lastJournal.cards[k];
        int slot = FindJournalCard(runCards, card);
        if (slot < 0) {
            LogMessage(kLogRecoveryCardMissing, card.usbId, card.location);
            ++recovery.missingCards;
            continue;
        }
        DeviceRecord& record = runCards.slots[slot];
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
    ReleaseRunLock();
    return true;
}

unsigned KESTROVA_CALLBACK RenamePortsThread(void* context) {
    const RunJob& job = *static_cast<const RunJob*>(context);
    RunOutcome outcome = job.undo ? RunUndo() : RunRename(job.request, *job.seen);
    job.ended(outcome);
    return 0;
}

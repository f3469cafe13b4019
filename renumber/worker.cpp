#include "renumber/worker.h"

#include <bit>

#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "renumber/rename_order.h"
#include "renumber/usage_change.h"
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

enum class CardStep { Off, Renamed, On };

void ReportStep(CardStep step, unsigned card, unsigned ports) {
    char line[128];
    if (step == CardStep::Renamed) {
        FormatText(line, sizeof line, kStepCardRenamed, card, ports);
    } else {
        FormatText(line, sizeof line, step == CardStep::Off ? kStepCardOff : kStepCardOn, card);
    }
    Report().Step(line);
}

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

RenameStep steps[kMaxRenameSteps];
int outcomes[kMaxDevices * kMaxPorts];

// Set when the journal could not take a step: the run stops there, every
// card is switched on, and the report says so.
bool journalFailed = false;

// A step of the run, journalled before the next one starts.
int RenameTo(const RenameStep& step, const PortTarget& entry) {
    PortRecord& port = runCards.slots[entry.card].ports[entry.port];
    int ok = step.number != 0 ? ModifyCOMName(port.portName, step.number) : 0;
    if (ok != 0 && !WriteJournalStep(step.final ? JournalStep::Renamed : JournalStep::Temp, step.index, step.number)) {
        journalFailed = true;
    }
    return ok;
}

// The journal card of a slot the run switches off.
unsigned JournalCardOf(unsigned slot) {
    for (unsigned k = 0; k < runJournal.cardCount; ++k) {
        if (runJournal.cards[k].slot == static_cast<int>(slot)) {
            return k;
        }
    }
    return 0;
}

// The report, in mapping order: the selected-port scope writes its one line
// with the break after it, the card scopes each line with the break before it.
void AppendResults(const RunMapping& mapping, bool breakAfter, char* result) {
    char description[kUtf8Room<sizeof PortRecord::description>];
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        const PortRecord& port = runCards.slots[entry.card].ports[entry.port];
        AppendFormat(result, kResultSize, "%s%s:%s==>COM%u: %s%s", breakAfter ? "" : "\r\n",
                     FieldText(port.description, description, sizeof description), runJournal.ports[i].oldName,
                     static_cast<unsigned>(entry.target), Outcome(outcomes[i]), breakAfter ? "\r\n" : "");
    }
}

unsigned RenameSelectedPort(const RunMapping& mapping, char* result) {
    const PortTarget& entry = mapping.ports[0];
    PortRecord& port = runCards.slots[entry.card].ports[entry.port];
    SetProgressRange(3);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 0, kEnableWaitMs);
    SetProgress(1);
    outcomes[0] = RenameTo(RenameStep{0, entry.target, true}, entry);
    SetProgress(2);
    ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 1, kEnableWaitMs);
    SetProgress(3);
    AppendResults(mapping, true, result);
    return outcomes[0] != 0 ? 0 : 1;
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
        ReportStep(CardStep::Off, d + 1, 0);
        SleepMs(0);
    }
    SetProgressRange(static_cast<int>(PortCountOf(runCards.slots[first])) + 3);
    unsigned count = PlanRenames(runCards, mapping, steps);
    for (unsigned i = 0; i < mapping.count; ++i) {
        outcomes[i] = 0;
    }
    unsigned renamed = 0;
    for (unsigned s = 0; s < count && !journalFailed; ++s) {
        const RenameStep& step = steps[s];
        const PortTarget& entry = mapping.ports[step.index];
        int ok = RenameTo(step, entry);
        if (step.final) {
            outcomes[step.index] = ok;
            renamed += ok != 0 ? 1 : 0;
        }
        SetProgress(entry.port + 2);
        SleepMs(kRenamePauseMs);
        if (s + 1 == count || mapping.ports[steps[s + 1].index].card != entry.card) {
            SetProgress(static_cast<int>(PortCountOf(runCards.slots[entry.card])) + 3);
            ReportStep(CardStep::Renamed, entry.card + 1u, renamed);
            renamed = 0;
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
        if (!journalFailed) {
            WriteJournalStep(JournalStep::Enabled, JournalCardOf(d), 0);
        }
        SetProgress(static_cast<int>(d + 1));
        ReportStep(CardStep::On, d + 1, 0);
        SleepMs(kEnablePauseMs);
    }
    AppendResults(mapping, false, result);
    unsigned failed = 0;
    for (unsigned i = 0; i < mapping.count; ++i) {
        failed += outcomes[i] != 0 ? 0 : 1;
    }
    return failed;
}

// Ports a run must not rename leave the mapping, and cards left with none
// stay on.
void DropPorts(RunMapping& mapping, std::uint8_t marks) {
    unsigned kept = 0;
    for (unsigned i = 0; i < mapping.count; ++i) {
        if ((mapping.ports[i].marks & marks) == 0) {
            mapping.ports[kept++] = mapping.ports[i];
        }
    }
    mapping.count = kept;
    MarkIdleCards(mapping);
}

// Whether every port of the run carries its target already.
bool ChangesNothing(const RunMapping& mapping) {
    for (unsigned i = 0; i < mapping.count; ++i) {
        if (CurrentNumber(runCards, mapping.ports[i]) != mapping.ports[i].target) {
            return false;
        }
    }
    return true;
}

// A mapped run from its checks to its report: the repeated-number refusal,
// the questions, the journal, the renames and the report (with note after
// it). Nothing changes before the whole mapping has been checked and the
// journal written; a run that would change nothing leaves everything,
// the journal included, as it was.
RunOutcome RunMapped(int category, RunMapping& mapping, bool portOnly, JournalKind kind, const char* note,
                     char* result) {
    static char repeats[kRepeatListSize];
    if (MarkRepeats(runCards, mapping, repeats, sizeof repeats) != 0) {
        LogMessage(kLogRepeatedTargets, repeats);
        FormatText(result, kResultSize, kTextRepeatedTargets, repeats);
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    if (mapping.count > 0 && ChangesNothing(mapping)) {
        LogMessage(kLogNothingToChange);
        Report().Tell(kTextNothingToChange);
        return RunOutcome::Done;
    }
    static char inUseList[kInUseListSize];
    static char claimedList[kClaimedListSize];
    ScanConflicts(runCards, mapping, inUseList, sizeof inUseList, claimedList, sizeof claimedList);
    static char notCom[kInUseListSize];
    notCom[0] = '\0';
    char name[kUtf8Room<sizeof PortRecord::portName>];
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& entry = mapping.ports[i];
        if ((entry.marks & kMarkNotCom) != 0) {
            AppendFormat(notCom, sizeof notCom, "%u#P%u(%s),", entry.card + 1u, entry.port + 1u,
                         FieldText(runCards.slots[entry.card].ports[entry.port].portName, name, sizeof name));
        }
    }
    if (notCom[0] != '\0') {
        LogMessage(kLogNotComPorts, notCom);
        FormatText(result, kResultSize, kTextNotComPorts, notCom);
        if (!Report().Ask(Question::GoOn, result)) {
            LogMessage(kLogCancelledHeld);
            return RunOutcome::Declined;
        }
        DropPorts(mapping, kMarkNotCom);
    }
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
    if (!StartJournal(runJournal)) {
        Report().Tell(kTextJournalNotSaved);
        return RunOutcome::PortFailed;
    }

    journalFailed = false;
    unsigned failed = portOnly ? RenameSelectedPort(mapping, result) : RenameCards(mapping, result);
    if (journalFailed || !WriteJournalStep(JournalStep::Finished, 0, 0)) {
        LogMessage(kLogJournalStopped);
        AppendFormat(result, kResultSize, "%s", kTextJournalStopped);
        failed = failed == 0 ? 1 : failed;
    }
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

RunOutcome ApplyLocked(const PortLayout& layout, const DeviceTable& seen, char* result) {
    SetProgressRange(3);
    EnumerateCards(runCards, kCategoryAll, kOrderByPosition);
    if (!SameCards(runCards, seen)) {
        LogMessage(kLogCardsChanged);
        Report().Tell(kTextCardsChanged);
        return RunOutcome::CardsChanged;
    }
    static LayoutMatch match;
    static char reason[kLayoutReasonSize];
    if (!MatchLayout(runCards, layout, match, reason, sizeof reason)) {
        FormatText(result, kResultSize, kTextLayoutRefused, reason);
        LogMessage("%s", result);
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    static char note[256];
    note[0] = '\0';
    if (match.missing > 0) {
        for (unsigned k = 0; k < layout.cardCount; ++k) {
            if (match.slots[k] < 0) {
                LogMessage(kLogLayoutCardMissing, layout.cards[k].usbId, layout.cards[k].location);
            }
        }
        FormatText(note, sizeof note, kTextLayoutCardsMissing, match.missing);
    }
    SetProgress(1);
    MapLayout(runCards, layout, match, runMapping);
    RunOutcome outcome = RunOutcome::Done;
    if (runMapping.count == 0) {
        LogMessage(kLogNothingToChange);
        Report().Tell(match.missing > 0 ? note : kTextLayoutHeld);
    } else {
        unsigned cards =
            runMapping.lastCard - runMapping.firstCard - static_cast<unsigned>(std::popcount(runMapping.idleCards));
        AppendText("\r\n");
        LogMessage(kLogApplyStart, cards, runMapping.count);
        outcome = RunMapped(kCategoryAll, runMapping, false, JournalKind::Rename, note, result);
    }
    return outcome == RunOutcome::Done && match.missing > 0 ? RunOutcome::CardsMissing : outcome;
}

// Undo is a run of its own over the mapping the last finished run's journal
// gives back, on the cards of the category that run enumerated.
RunOutcome UndoLocked(char* result) {
    SetProgressRange(3);
    static char reason[kJournalReasonSize];
    JournalLoad load = LoadJournal(lastJournal, reason, sizeof reason, true);
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
    // A change of the COM database is put back there; no card is touched.
    if (lastJournal.kind == JournalKind::Database) {
        return UndoDatabaseChange(lastJournal);
    }
    EnumerateCards(runCards, lastJournal.category, kOrderByPosition);
    static char leftAlone[kLeftAloneSize];
    static char note[kLeftAloneSize + 256];
    note[0] = '\0';
    bool finish = IsUnfinishedUndo(lastJournal);
    if (MapUndo(lastJournal, runCards, runMapping, leftAlone, sizeof leftAlone, finish) != 0) {
        LogMessage(kLogUndoLeftAlone, leftAlone);
        FormatText(note, sizeof note, kTextUndoLeftAlone, leftAlone);
    }
    if (runMapping.count == 0) {
        FormatText(result, kResultSize, "%s%s", kTextNothingToUndo, note);
        Report().Tell(result);
        return RunOutcome::NothingToDo;
    }
    AppendText("\r\n");
    LogMessage(finish ? kLogUndoFinish : kLogUndoStart, runMapping.count);
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

RunOutcome RunApply(const PortLayout& layout, const DeviceTable& seen) {
    MachineLock lock;
    if (!lock.Held()) {
        return MachineBusy();
    }
    resultText[0] = '\0';
    return ApplyLocked(layout, seen, resultText);
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
    // A change of the COM database names no cards.
    if (LoadJournal(journal, reason, sizeof reason, true) != JournalLoad::Loaded ||
        journal.kind == JournalKind::Database) {
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
    if (lastJournal.kind == JournalKind::Database) {
        // Nothing to switch on: the numbers it changed are in the journal,
        // and undo puts them back.
        recovery.database = true;
        recovery.ports = lastJournal.numberCount;
        for (unsigned i = 0; i < lastJournal.numberCount; ++i) {
            recovery.renamed += lastJournal.numbers[i].changed ? 1 : 0;
        }
        LogMessage(kLogRecoveryDatabase, recovery.ports, recovery.renamed);
        if (WriteJournalStep(JournalStep::Recovered, 0, 0)) {
            LogMessage(kLogRecoveryClosed);
        }
        ReleaseRunLock();
        return true;
    }
    recovery.undo = lastJournal.kind == JournalKind::Undo;
    recovery.ports = lastJournal.portCount;
    EnumerateCards(runCards, lastJournal.category, kOrderByPosition);
    static bool wasRenamed[kMaxDevices * kMaxPorts];
    for (unsigned i = 0; i < lastJournal.portCount; ++i) {
        wasRenamed[i] = lastJournal.ports[i].renamed;
    }
    recovery.renamed = MarkChangedPorts(lastJournal, runCards);
    LogMessage(kLogRecoveryFound, recovery.ports, recovery.renamed);
    for (unsigned k = 0; k < lastJournal.cardCount; ++k) {
        const JournalCard& card = lastJournal.cards[k];
        int slot = FindJournalCard(runCards, lastJournal, k);
        if (slot == -1) {
            LogMessage(kLogRecoveryCardMissing, card.usbId, card.location);
            ++recovery.missingCards;
            continue;
        }
        // Identical cards the table no longer tells apart: each is switched
        // on, as switching on a card that is on changes nothing.
        for (std::uint32_t d = 0; d < runCards.count; ++d) {
            if (slot >= 0 ? static_cast<int>(d) != slot : !IsJournalCard(runCards.slots[d], card)) {
                continue;
            }
            DeviceRecord& record = runCards.slots[d];
            if (lastJournal.portOnly) {
                PortRecord& port = record.ports[lastJournal.ports[0].port];
                ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 1, kEnableWaitMs);
            } else {
                ChangeDeviceStatus(DevInfoSetValue(record.devInfoSet), record.devInfo, 1, kEnableWaitMs);
            }
            LogMessage(kLogRecoveryEnabled, static_cast<int>(d) + 1, card.usbId, card.location);
        }
    }
    for (unsigned i = 0; i < lastJournal.portCount; ++i) {
        if (lastJournal.ports[i].renamed && !wasRenamed[i]) {
            WriteJournalStep(JournalStep::Renamed, i, 0);
        }
    }
    if (WriteJournalStep(JournalStep::Recovered, 0, 0)) {
        LogMessage(kLogRecoveryClosed);
    }
    ReleaseRunLock();
    return true;
}

unsigned KESTROVA_CALLBACK RenamePortsThread(void* context) {
    const RunJob& job = *static_cast<const RunJob*>(context);
    RunOutcome outcome = job.undo                ? RunUndo()
                         : job.layout != nullptr ? RunApply(*job.layout, *job.seen)
                                                 : RunRename(job.request, *job.seen);
    job.ended(outcome);
    return 0;
}

#include "renumber/usage_change.h"

#include "comdb/number_usage.h"
#include "renumber/claims.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/reporter.h"
#include "text/bounded_text.h"

namespace {

constexpr std::size_t kSummarySize = 8192;
constexpr int kFirstUsableRow = 2;  // COM3: COM1 and COM2 belong to the system
constexpr unsigned kRangeLockWaitMs = 3000;

// The texts of one change; too big for a stack. Only the holder of the run
// lock uses them.
char changed[kSummarySize];
char failed[kSummarySize];
char summary[kSummarySize];
std::uint16_t pending[kMaxComDbNumbers];
HolderTable holders;
DeviceTable allCards;

bool IsClaimedNow(unsigned number) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    return IsNumberClaimed(bits, number);
}

// Journals the numbers, then puts each in the state it is not in (release:
// they are claimed). false when the journal could not be started (told).
bool ChangeNumbers(const std::uint16_t* numbers, unsigned count, bool release, int* changedCount) {
    changed[0] = '\0';
    failed[0] = '\0';
    *changedCount = 0;
    if (count == 0) {
        return true;
    }
    BeginDatabaseJournal(numbers, count, release);
    if (!StartJournal(runJournal)) {
        Report().Tell(kTextJournalNotSaved);
        return false;
    }
    bool journalled = true;
    for (unsigned i = 0; i < count && journalled; ++i) {
        unsigned n = numbers[i];
        if (IsClaimedNow(n) != release) {
            continue;
        }
        long result = release ? ComDbRelease(comDb.load(), n) : ComDbClaim(comDb.load(), n);
        if (result == 0) {
            journalled = WriteJournalStep(JournalStep::Changed, i, 0);
            AppendFormat(changed, sizeof changed, "COM%u,", n);
            ++*changedCount;
            continue;
        }
        if (IsClaimedNow(n) != release) {
            continue;
        }
        // The database returns its error instead of setting the thread's.
        SetLastErrorCode(static_cast<unsigned>(result));
        LogLastError(release ? "ReleasePort COM%u" : "ClaimPort COM%u", n);
        AppendFormat(failed, sizeof failed, "COM%u,", n);
    }
    if (!journalled || !WriteJournalStep(JournalStep::Finished, 0, 0)) {
        LogMessage(kLogJournalStopped);
        AppendFormat(failed, sizeof failed, "%s", kTextJournalStopped);
    }
    return true;
}

// The usage summary: what was changed, the total, what was not.
const char* Summarize(bool release, int changedCount) {
    const char* state = release ? kTextStateFree : kTextStateClaimed;
    if (changedCount > 0) {
        LogMessage(kLogUsageChanged, state, changed);
    }
    summary[0] = '\0';
    if (failed[0] != '\0') {
        AppendFormat(summary, sizeof summary, "%s\n", release ? kTextReleaseFailed : kTextClaimFailed);
    }
    AppendFormat(summary, sizeof summary, "%s", changed);
    AppendFormat(summary, sizeof summary, kTextUsageTotal, changedCount, state);
    if (failed[0] != '\0') {
        AppendFormat(summary, sizeof summary, kTextUsageNotChanged, failed);
    }
    return summary;
}

// What this changes is known before the first change: the numbers of the
// range not yet in the state asked for.
int ProcessRange(bool release, int from, int to) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    unsigned count = 0;
    for (int n = from + 1; n <= to + 1; ++n) {
        if (IsNumberClaimed(bits, static_cast<unsigned>(n)) == release) {
            pending[count++] = static_cast<std::uint16_t>(n);
        }
    }
    if (release && count > 0 && !Report().Ask(Question::WarningGoOn, kTextReleaseWarning)) {
        LogMessage(kLogUsageCancelled);
        return 0;
    }
    int changedCount = 0;
    if (!ChangeNumbers(pending, count, release, &changedCount)) {
        return 0;
    }
    Report().Tell(Summarize(release, changedCount));
    return failed[0] == '\0' ? 1 : 0;
}

RunOutcome ReleaseStaleLocked(bool preview) {
    ClassifyMachine(allCards, holders);
    PortUsageBits bits;
    ReadPortUsage(bits);
    static char list[kSummarySize];
    static char absent[kSummarySize];
    list[0] = '\0';
    absent[0] = '\0';
    unsigned count = 0;
    for (unsigned n = 1; n <= kMaxComDbNumbers; ++n) {
        if (!IsNumberClaimed(bits, n)) {
            continue;
        }
        const NumberHolder* holder = HolderOf(holders, n);
        if (IsStaleClaim(holders, n)) {
            pending[count++] = static_cast<std::uint16_t>(n);
            AppendFormat(list, sizeof list, "COM%u,", n);
        } else if (holder != nullptr && holder->holder == Holder::Absent) {
            AppendFormat(absent, sizeof absent, "COM%u,", n);
        }
    }
    if (count == 0) {
        LogMessage("%s", kTextNoStaleClaims);
        Report().Tell(kTextNoStaleClaims);
        return RunOutcome::Done;
    }
    LogMessage(kLogStaleFound, list);
    if (preview) {
        FormatText(summary, sizeof summary, kTextStalePreview, list);
        Report().Output(summary);
        return RunOutcome::Done;
    }
    FormatText(summary, sizeof summary, kTextStaleAsk, list);
    if (absent[0] != '\0') {
        AppendFormat(summary, sizeof summary, kTextStaleAbsentKept, absent);
    }
    if (!Report().Ask(Question::GoOn, summary)) {
        LogMessage(kLogUsageCancelled);
        return RunOutcome::Declined;
    }
    int changedCount = 0;
    if (!ChangeNumbers(pending, count, true, &changedCount)) {
        return RunOutcome::PortFailed;
    }
    bool whole = failed[0] == '\0';
    Report().Tell(Summarize(true, changedCount));
    return whole ? RunOutcome::Done : RunOutcome::PortFailed;
}

}  // namespace

int ChangeUsageRange(bool release, int fromRow, int toRow) {
    constexpr int rows = static_cast<int>(kComNumberRows);
    if (fromRow == kNoRow || toRow == kNoRow || fromRow >= rows || toRow >= rows) {
        LogMessage(kLogNoRange);
        Report().Tell(kTextChooseRange);
        return 0;
    }
    if (fromRow < kFirstUsableRow || toRow < kFirstUsableRow) {
        LogMessage(kLogReservedNumber, fromRow + 1);
        Report().Tell(kTextReservedNumbers);
        return 0;
    }
    // A run gives and takes numbers: the database is changed by one at a time.
    if (!AcquireRunLock(kRangeLockWaitMs)) {
        LogMessage(kLogMachineBusy);
        Report().Tell(kTextMachineBusy);
        return 0;
    }
    int result = ProcessRange(release, fromRow, toRow);
    ReleaseRunLock();
    return result;
}

RunOutcome ReleaseStaleClaims(bool preview) {
    if (!AcquireRunLock(kRunLockWaitMs)) {
        LogMessage(kLogMachineBusy);
        Report().Tell(kTextMachineBusy);
        return RunOutcome::Busy;
    }
    RunOutcome outcome = ReleaseStaleLocked(preview);
    ReleaseRunLock();
    return outcome;
}

RunOutcome UndoDatabaseChange(const Journal& change) {
    static char leftAlone[kSummarySize];
    leftAlone[0] = '\0';
    PortUsageBits bits;
    ReadPortUsage(bits);
    unsigned count = 0;
    // One change goes one way: its numbers were all claimed, or all free.
    bool release = change.numberCount > 0 && !change.numbers[0].claimed;
    for (unsigned i = 0; i < change.numberCount; ++i) {
        const JournalNumber& entry = change.numbers[i];
        if (!entry.changed) {
            continue;
        }
        if (IsNumberClaimed(bits, entry.number) == entry.claimed) {
            AppendFormat(leftAlone, sizeof leftAlone, "COM%u,", static_cast<unsigned>(entry.number));
            continue;
        }
        pending[count++] = entry.number;
    }
    LogMessage(kLogUndoDatabase, count);
    if (leftAlone[0] != '\0') {
        LogMessage(kLogUndoNumbersLeftAlone, leftAlone);
    }
    if (count == 0) {
        FormatText(summary, sizeof summary, "%s", kTextNothingToUndo);
        if (leftAlone[0] != '\0') {
            AppendFormat(summary, sizeof summary, kTextUndoNumbersLeftAlone, leftAlone);
        }
        Report().Tell(summary);
        return RunOutcome::NothingToDo;
    }
    int changedCount = 0;
    if (!ChangeNumbers(pending, count, release, &changedCount)) {
        return RunOutcome::PortFailed;
    }
    bool whole = failed[0] == '\0';
    Summarize(release, changedCount);
    if (leftAlone[0] != '\0') {
        AppendFormat(summary, sizeof summary, kTextUndoNumbersLeftAlone, leftAlone);
    }
    Report().Tell(summary);
    return whole ? RunOutcome::Done : RunOutcome::PortFailed;
}

#include "comdb/ranges.h"

#include <array>

#include "comdb/number_usage.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/reporter.h"
#include "text/bounded_text.h"

namespace {

constexpr std::size_t kSummarySize = 8192;
constexpr int kFirstUsableRow = 2;  // COM3: COM1 and COM2 belong to the system
constexpr unsigned kRangeLockWaitMs = 3000;

// What this changes is known before the first change: the numbers of the
// range not yet in the state asked for. A number another program puts in
// that state meanwhile is done already and does not stop the range; the
// summary names exactly what was changed here and what could not be.
int ProcessRange(bool release, int from, int to) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    std::array<int, kComNumberRows> numbers;
    std::size_t count = 0;
    for (int n = from + 1; n <= to + 1; ++n) {
        if (IsNumberClaimed(bits, static_cast<unsigned>(n)) == release) {
            numbers[count++] = n;
        }
    }
    if (release && count > 0 && !Report().Ask(Question::WarningGoOn, kTextReleaseWarning)) {
        LogMessage(kLogUsageCancelled);
        return 0;
    }
    static char changed[kSummarySize];
    static char failed[kSummarySize];
    changed[0] = '\0';
    failed[0] = '\0';
    int changedCount = 0;
    for (std::size_t i = 0; i < count; ++i) {
        auto n = static_cast<unsigned>(numbers[i]);
        ReadPortUsage(bits);
        if (IsNumberClaimed(bits, n) != release) {
            continue;
        }
        long result = release ? ComDbRelease(comDb.load(), n) : ComDbClaim(comDb.load(), n);
        if (result == 0) {
            AppendFormat(changed, sizeof changed, "COM%u,", n);
            ++changedCount;
            continue;
        }
        ReadPortUsage(bits);
        if (IsNumberClaimed(bits, n) != release) {
            continue;
        }
        // The database returns its error instead of setting the thread's.
        SetLastErrorCode(static_cast<unsigned>(result));
        LogLastError(release ? "ReleasePort COM%u" : "ClaimPort COM%u", n);
        AppendFormat(failed, sizeof failed, "COM%u,", n);
    }
    const char* state = release ? kTextStateFree : kTextStateClaimed;
    if (changedCount > 0) {
        LogMessage(kLogUsageChanged, state, changed);
    }
    static char summary[kSummarySize];
    summary[0] = '\0';
    if (failed[0] != '\0') {
        AppendFormat(summary, sizeof summary, "%s\n", release ? kTextReleaseFailed : kTextClaimFailed);
    }
    AppendFormat(summary, sizeof summary, "%s", changed);
    AppendFormat(summary, sizeof summary, kTextUsageTotal, changedCount, state);
    if (failed[0] != '\0') {
        AppendFormat(summary, sizeof summary, kTextUsageNotChanged, failed);
    }
    Report().Tell(summary);
    return failed[0] == '\0' ? 1 : 0;
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

#include "comdb/usage_dialog.h"

#include <array>

#include "comdb/number_usage.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/state.h"
#include "text/bounded_text.h"

Window usageDialog = nullptr;

namespace {

constexpr std::size_t kSummarySize = 8192;
constexpr int kFirstUsableRow = 2;  // COM3: COM1 and COM2 belong to the system

// A from-number above the to-number pushes the to-number up, and the other way round.
void AlignRange(int changedId) {
    int from = ComboGetSelection(usageDialog, IDC_USAGE_FROM);
    int to = ComboGetSelection(usageDialog, IDC_USAGE_TO);
    if (static_cast<unsigned>(from) <= static_cast<unsigned>(to)) {
        return;
    }
    if (changedId == IDC_USAGE_FROM) {
        ComboSelectRow(usageDialog, IDC_USAGE_TO, from);
    } else {
        ComboSelectRow(usageDialog, IDC_USAGE_FROM, to);
    }
}

// What this dialog will change is known before the first change: the numbers
// of the range not yet in the state asked for. A number another program puts
// in that state meanwhile is done already and does not stop the range; the
// summary names exactly what this dialog changed and what it could not.
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
    if (release && count > 0 && !AskWarningOkCancel(usageDialog, kTextReleaseWarning)) {
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
    ShowInfo(usageDialog, summary);
    return failed[0] == '\0' ? 1 : 0;
}

}  // namespace

void FillUsageRanges() {
    if (!EnsureComDbOpen()) {
        return;
    }
    int from = ComboGetSelection(usageDialog, IDC_USAGE_FROM);
    int to = ComboGetSelection(usageDialog, IDC_USAGE_TO);
    ComboEmpty(usageDialog, IDC_USAGE_FROM);
    ComboEmpty(usageDialog, IDC_USAGE_TO);
    PortUsageBits bits;
    ReadPortUsage(bits);
    char row[32];
    for (unsigned n = 1; n <= kComNumberRows; ++n) {
        FormatNumberRow(row, sizeof row, n, IsNumberClaimed(bits, n));
        ComboAddRow(usageDialog, IDC_USAGE_FROM, row);
        ComboAddRow(usageDialog, IDC_USAGE_TO, row);
    }
    if (from == kNoRow || to == kNoRow) {
        from = kFirstUsableRow;
        to = kFirstUsableRow;
    }
    ComboSelectRow(usageDialog, IDC_USAGE_FROM, from);
    ComboSelectRow(usageDialog, IDC_USAGE_TO, to);
}

int ApplyUsageRange(bool release) {
    int from = ComboGetSelection(usageDialog, IDC_USAGE_FROM);
    int to = ComboGetSelection(usageDialog, IDC_USAGE_TO);
    int result = 0;
    if (from == kNoRow || to == kNoRow) {
        LogMessage(kLogNoRange);
        ShowInfo(usageDialog, kTextChooseRange);
    } else if (from < kFirstUsableRow || to < kFirstUsableRow) {
        LogMessage(kLogReservedNumber, from + 1);
        ShowInfo(usageDialog, kTextReservedNumbers);
    } else {
        result = ProcessRange(release, from, to);
    }
    FillUsageRanges();
    return result;
}

intptr_t KESTROVA_CALLBACK UsageDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case kMsgInitDialog:
        usageDialog = window;
        FillUsageRanges();
        return 0;
    case kMsgCommand: {
        unsigned id = CommandId(wParam);
        unsigned code = CommandCode(wParam);
        switch (id) {
        case kCommandCancel:
            EndModalDialog(window, kCommandCancel);
            return 0;
        case IDC_USAGE_FROM:
        case IDC_USAGE_TO:
            if (code == kComboSelChange || code == kComboKillFocus) {
                AlignRange(static_cast<int>(id));
            }
            return 0;
        case IDC_USAGE_CLAIM:
            ApplyUsageRange(false);
            return 0;
        case IDC_USAGE_RELEASE:
            ApplyUsageRange(true);
            return 0;
        case IDC_USAGE_REFRESH:
            FillUsageRanges();
            return 0;
        default:
            return DefaultCommandResult(window, message, wParam, lParam);
        }
    }
    case kMsgDestroy:
        // Focus back on the start-number combo refreshes its In use marks.
        SetControlFocus(mainDialog, IDC_START_NUMBER);
        EndModalDialog(window, 0);
        usageDialog = nullptr;
        return 0;
    default:
        return 0;
    }
}

#include "ui/usage_dialog.h"

#include "comdb/number_usage.h"
#include "renumber/usage_change.h"
#include "resources/ids.h"
#include "ui/dialog_reporter.h"

Window usageDialog = nullptr;

namespace {

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
    int result = ChangeUsageRange(release, ComboGetSelection(usageDialog, IDC_USAGE_FROM),
                                  ComboGetSelection(usageDialog, IDC_USAGE_TO));
    FillUsageRanges();
    return result;
}

intptr_t KESTROVA_CALLBACK UsageDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case kMsgInitDialog:
        usageDialog = window;
        SetBoxOwner(window);
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
        SetBoxOwner(nullptr);
        EndModalDialog(window, 0);
        usageDialog = nullptr;
        return 0;
    default:
        return 0;
    }
}

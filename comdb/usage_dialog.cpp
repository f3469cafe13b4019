#include "comdb/usage_dialog.h"

#include <cstring>

#include "comdb/number_usage.h"
#include "resources/ids.h"
#include "text/bounded_text.h"
#include "ui/log.h"
#include "ui/messages.h"
#include "ui/state.h"

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

int ProcessRange(bool release, int from, int to) {
    char summary[kSummarySize] = "";
    PortUsageBits bits;
    ReadPortUsage(bits);
    int count = 0;
    bool ask = true;
    for (int n = from + 1; n <= to + 1; ++n) {
        bool claimed = IsNumberClaimed(bits, static_cast<unsigned>(n));
        if (release) {
            if (!claimed) {
                continue;
            }
            if (ask) {
                if (!AskWarningOkCancel(usageDialog,
                                        "串口号声明为<未使用/空闲>状态后,系统将会把<未使用>串口号分配给新设备,"
                                        "可能会造成串口号冲突和串口设备无法工作，请谨慎操作。\n点击<取消>将取消此操作")) {
                    LogMessage("操作取消");
                    return 0;
                }
                ask = false;
            }
            long result = ComDbRelease(comDb.load(), static_cast<unsigned>(n));
            if (result != 0) {
                SetLastErrorCode(static_cast<unsigned>(result));
                LogLastError("ReleasePort");
                ShowInfo(usageDialog, "设定串口<未使用/空闲>状态失败.");
                return 0;
            }
        } else {
            if (claimed) {
                continue;
            }
            long result = ComDbClaim(comDb.load(), static_cast<unsigned>(n));
            if (result != 0) {
                SetLastErrorCode(static_cast<unsigned>(result));
                LogLastError("ClaimPort");
                ShowInfo(usageDialog, "设定串口<使用中>状态失败.");
                return 0;
            }
        }
        AppendFormat(summary, sizeof summary, "COM%d,", n);
        ++count;
    }
    AppendFormat(summary, sizeof summary, "\n****共%d个串口状态，声明为[%s]****", count, release ? "未使用" : "使用中");
    ShowInfo(usageDialog, summary);
    return 1;
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
        LogMessage("未选择串口号，操作取消");
        ShowInfo(usageDialog, "请选择起始和结束串口号.");
    } else if (from < kFirstUsableRow || to < kFirstUsableRow) {
        LogMessage("操作取消.COM%d为系统保留号,请选择COM3及之后的号", from + 1);
        ShowInfo(usageDialog, "COM1/2为系统保留号,禁止操作.");
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

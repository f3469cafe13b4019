#include "ui/main_dialog.h"

#include <cstring>

#include "comdb/number_usage.h"
#include "core/layouts.h"
#include "core/program.h"
#include "inventory/devmgr.h"
#include "kestrova_version.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/reporter.h"
#include "text/bounded_text.h"
#include "ui/dialog_reporter.h"
#include "ui/log_edit.h"
#include "ui/main_views.h"
#include "ui/usage_dialog.h"

namespace {

constexpr std::size_t kPathSize = 1024;
constexpr std::size_t kCommandSize = 3 * kPathSize + 64;
constexpr std::size_t kQuestionSize = 1024;
constexpr std::size_t kTitleSize = 128;
constexpr unsigned kCommonControlClasses = 1;

// Sent by a run's worker when its work is done; the dialog ends the run on
// its own thread (WM_APP + 2).
constexpr unsigned kMsgRunEnded = 0x8002;

// Whether the system is 64-bit Windows; written by InitMainDialog.
bool osIs64;
// Registration for USB device interface notifications; user-interface thread only.
void* usbNotification = nullptr;

// A run reads its own cards, but the lists stay as the run's request saw them
// until it ends and enumerates. Under Wine a disabled button still raises its
// command, so the lock of the controls alone is not enough.
void RefreshDevices() {
    if (busyFlag.load() != 0) {
        LogMessage(kLogListsAfterRun);
        return;
    }
    EnumerateDevices();
}

// Closing under a run would de-initialise the library under the worker and
// could leave cards disabled.
void CloseUnlessRunning(Window window) {
    if (busyFlag.load() != 0) {
        LogMessage(kLogCloseRefused);
        ShowProgramBox(window, kTextRunActive, kBoxInfoOk);
        return;
    }
    DestroyDialog(window);
}

void OnCategoryChange() {
    if (ComboGetSelection(mainDialog, IDC_CATEGORY) != kCategoryUsb) {
        ClickButton(mainDialog, IDC_PLAN_SEQUENTIAL);
    }
    UpdateControlStates();
    RefreshDevices();
}

// The worker's last step: one message, so the dialog ends the run on its own
// thread.
void OnRunEnded(RunOutcome) { SendDialogMessage(mainDialog, kMsgRunEnded, 0, 0); }

// In one step: nothing the user does can land between the refill, the
// re-enumeration and the release of the run.
void EndRenameRun() {
    FillStartNumbers(true);
    EnumerateDevices();
    EndRun();
    UpdateControlStates();
}

// A run refuses to start while another one lasts (logged).
void StartRun() {
    StartRenameRun(ReadRunRequest(), OnRunEnded);
    UpdateControlStates();
}

// The cards of the category the last run changed are listed, so the user
// sees what it changed and what an undo puts back.
void ListLastRunCategory() {
    int category = 0;
    if (busyFlag.load() == 0 && LastRunCategory(&category) && category != ListedCategory()) {
        ComboSelectRow(mainDialog, IDC_CATEGORY, category);
        OnCategoryChange();
    }
}

void StartUndo() {
    ListLastRunCategory();
    StartUndoRun(OnRunEnded);
    UpdateControlStates();
}

void ExportLayoutFile(Window window) {
    char path[kPathSize];
    char reason[kLayoutReasonSize];
    if (!AskFilePath(window, true, path, sizeof path)) {
        return;
    }
    if (ExportLayout(path, false, reason, sizeof reason)) {
        LogMessage(kLogLayoutExported, path);
    } else {
        Report().Tell(reason);
    }
}

// The preview in the log, one question, then a run on the worker as Change
// starts one; the run asks what a run asks.
void ApplyLayoutFile(Window window) {
    // The worker reads the loaded layout while a run lasts.
    if (busyFlag.load() != 0) {
        LogMessage(kLogRunRefused);
        return;
    }
    char path[kPathSize];
    char text[kLayoutReasonSize + 64];
    if (!AskFilePath(window, false, path, sizeof path)) {
        return;
    }
    if (!LoadLayoutFile(path, text, sizeof text)) {
        char reason[kLayoutReasonSize + 64];
        FormatText(reason, sizeof reason, kTextLayoutRefused, text);
        Report().Tell(reason);
        return;
    }
    // With nothing to change the run only says so, and what is missing.
    if (unsigned ports = PreviewLoadedLayout(); ports > 0) {
        FormatText(text, sizeof text, kTextAskApplyLayout, ports);
        if (!Report().Ask(Question::GoOn, text)) {
            return;
        }
    }
    StartApplyRun(OnRunEnded);
    UpdateControlStates();
}

// A run that ended half-way (its process killed, the power lost) is mended
// before anything else.
void RecoverAtStart() {
    Recovery recovery;
    if (!RecoverInterruptedRun(recovery)) {
        return;
    }
    RefreshDevices();
    ListLastRunCategory();
    if (recovery.renamed > 0 && (!recovery.undo || recovery.renamed < recovery.ports)) {
        char text[kQuestionSize];
        FormatText(text, sizeof text,
                   recovery.database ? kTextOfferUndoDatabase
                   : recovery.undo   ? kTextOfferFinishUndo
                                     : kTextOfferUndo,
                   recovery.renamed);
        if (ShowProgramBox(mainDialog, text, kBoxInfoYesNo) == kAnswerYes) {
            StartUndo();
        }
    }
}

// Frees the claimed numbers nothing holds, after its question; the start
// list then shows them free.
void ReleaseStale() {
    ReleaseStaleHere(false);
    FillStartNumbers(false);
}

void ShowDeviceManager() {
    char system[kPathSize];
    char command[kCommandSize];
    // Full, quoted paths: an elevated process must not pick up an mmc.exe
    // from the current directory or split a path at a blank.
    if (!GetSystemFolder(system, sizeof system) ||
        !FormatText(command, sizeof command, "\"%s\\mmc.exe\" \"%s\\devmgmt.msc\"", system, system)) {
        LogMessage(kLogNoSystemFolder);
        return;
    }
    RunProgram(command);
}

bool IsUsbInterfaceChange(uintptr_t wParam, intptr_t lParam) {
    if ((wParam != kDeviceArrival && wParam != kDeviceRemoveComplete) || lParam == 0) {
        return false;
    }
    std::uint32_t deviceType = 0;
    std::memcpy(&deviceType, reinterpret_cast<const unsigned char*>(lParam) + sizeof(std::uint32_t), sizeof deviceType);
    return deviceType == kDeviceTypeInterface;
}

void OnInitDialog(Window window) {
    mainDialog = window;
    HoldLogEdit();
    InstallDialogReporter(window);
    InitMainDialog();
    // Opened once more; the new handle (invalid after a failure) replaces the
    // one the start-list fill opened, and the next fill retries.
    ReopenComDb();
    InitDevManagerLib();
    // Called, not clicked: a click may not reach a dialog that is not active.
    RefreshDevices();
    RegisterUsbNotification(true);
    AttachAccelerators(window, IDR_ACCELERATORS);
    RecoverAtStart();
}

void RunUsageDialog(Window window) {
    RunModalDialog(IDD_USAGE, window, UsageDialogProc);
    // Focus back on the start-number combo refreshes its In use marks.
    SetControlFocus(window, IDC_START_NUMBER);
}

intptr_t OnCommand(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    unsigned id = CommandId(wParam);
    unsigned code = CommandCode(wParam);
    switch (id) {
    case kCommandCancel:
    case IDM_EXIT:
        CloseUnlessRunning(window);
        return 0;
    case IDM_ABOUT:
        RunModalDialog(IDD_ABOUT, window, AboutDialogProc);
        return 0;
    case IDM_PREVIEW:
        PreviewRequest(ReadRunRequest());
        return 0;
    case IDM_UNDO:
        StartUndo();
        return 0;
    case IDM_EXPORT_LAYOUT:
        ExportLayoutFile(window);
        return 0;
    case IDM_APPLY_LAYOUT:
        ApplyLayoutFile(window);
        return 0;
    case IDM_CLAIMS:
        ShowClaims();
        return 0;
    case IDM_RELEASE_STALE:
        ReleaseStale();
        return 0;
    case IDC_PORT_LIST:
        if (code == kListSelChange || code == kListSelCancel) {
            SyncStartNumber();
        }
        return 0;
    case IDC_ADAPTER_LIST:
        ShowPorts();
        SyncStartNumber();
        return 0;
    case IDC_CATEGORY:
        if (code == kComboSelChange) {
            OnCategoryChange();
        }
        return 0;
    case IDC_START_NUMBER:
        if (code == kComboSetFocus) {
            FillStartNumbers(false);
        }
        return 0;
    case IDC_CHANGE:
        StartRun();
        return 0;
    case IDC_USAGE:
        RunUsageDialog(window);
        return 0;
    case IDC_ENUMERATE:
        RefreshDevices();
        return 0;
    case IDC_CLEAR:
        ClearLogEdit(window);
        return 0;
    case IDC_PLAN_HUB:
    case IDC_HUB_UP:
    case IDC_HUB_DOWN:
    case IDC_PLAN_SEQUENTIAL:
        UpdateControlStates();
        return 0;
    case IDC_DEVICE_MANAGER:
        ShowDeviceManager();
        return 0;
    case IDC_ORDER:
        if (code == kComboSelChange) {
            RefreshDevices();
        }
        return 0;
    default:
        return DefaultCommandResult(window, message, wParam, lParam);
    }
}

}  // namespace

void InitMainDialog() {
    char folder[kPathSize];
    char path[kPathSize + 16];
    osIs64 = GetWindowsFolder(folder, sizeof folder) && FormatText(path, sizeof path, "%s\\SYSWOW64", folder) &&
             FolderExists(path);
    SetWindowIcons(mainDialog, IDI_KESTROVA);
    InitCommonControlClasses(kCommonControlClasses);
    for (const char* row : kCategoryRows) {
        ComboAddRow(mainDialog, IDC_CATEGORY, row);
    }
    ComboSelectRow(mainDialog, IDC_CATEGORY, kCategoryUsb);
    SetControlFocus(mainDialog, IDC_START_NUMBER);
    SetButtonChecked(mainDialog, IDC_SCOPE_CARD, true);
    ClickButton(mainDialog, IDC_PLAN_SEQUENTIAL);
    EditRaiseLimit(mainDialog, IDC_LOG);
    SetButtonChecked(mainDialog, IDC_HUB_UP, (kDefaultUpMask & kHubGroupOn) != 0);
    SetButtonChecked(mainDialog, IDC_HUB_DOWN, (kDefaultDownMask & kHubGroupOn) != 0);
    for (unsigned port = 0; port < kHubPorts; ++port) {
        SetButtonChecked(mainDialog, kUpPortBoxes[port], (kDefaultUpMask >> port & 1u) != 0);
        SetButtonChecked(mainDialog, kDownPortBoxes[port], (kDefaultDownMask >> port & 1u) != 0);
    }
    for (const char* row : kOrderRows) {
        ComboAddRow(mainDialog, IDC_ORDER, row);
    }
    ComboSelectRow(mainDialog, IDC_ORDER, kOrderByPosition);
    char title[kTitleSize];
    FormatText(title, sizeof title, "%s%s", KESTROVA_TITLE, osIs64 ? "(X64)" : "(X86)");
    SetWindowTitle(mainDialog, title);
}

void RegisterUsbNotification(bool on) {
    if (usbNotification != nullptr) {
        UnregisterDeviceNotificationHandle(usbNotification);
        usbNotification = nullptr;
    }
    if (on) {
        usbNotification = RegisterUsbInterfaceNotification(mainDialog);
    }
}

intptr_t KESTROVA_CALLBACK MainDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case kMsgInitDialog:
        OnInitDialog(window);
        return 0;
    case kMsgCommand:
        return OnCommand(window, message, wParam, lParam);
    case kMsgReportsQueued:
        ShowQueuedReports();
        return 0;
    case kMsgAskUser:
        AnswerQueuedQuestion(lParam);
        return 0;
    case kMsgShowWindow:
        if (wParam != 0) {
            ReleaseLogEdit(window);
        }
        return 0;
    case kMsgTimer:
        ShowHeldLogText(window);
        return 0;
    case kMsgRunEnded:
        EndRenameRun();
        return 0;
    case kMsgDeviceChange:
        // Posted, not sent: the broadcast returns at once. Ignored during a
        // run, which re-enumerates when it ends.
        if (busyFlag.load() == 0 && IsUsbInterfaceChange(wParam, lParam)) {
            PostButtonClick(window, IDC_ENUMERATE);
        }
        return 0;
    case kMsgDestroy:
        DeinitDevManagerLib();
        RegisterUsbNotification(false);
        PostQuit(0);
        return 0;
    default:
        return 0;
    }
}

intptr_t KESTROVA_CALLBACK AboutDialogProc(Window window, unsigned message, uintptr_t wParam, intptr_t) {
    switch (message) {
    case kMsgInitDialog:
        return 1;
    case kMsgCommand:
        if (CommandId(wParam) == kCommandOk || CommandId(wParam) == kCommandCancel) {
            EndModalDialog(window, CommandId(wParam));
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

#include "ui/main_dialog.h"

#include <cstring>

#include "comdb/number_usage.h"
#include "comdb/usage_dialog.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "kestrova_version.h"
#include "renumber/plan.h"
#include "renumber/run.h"
#include "renumber/worker.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/state.h"
#include "text/bounded_text.h"
#include "ui/cli.h"
#include "ui/log_edit.h"

namespace {

constexpr std::size_t kPathSize = 1024;
constexpr std::size_t kCommandSize = 3 * kPathSize + 64;
constexpr std::size_t kQuestionSize = 1024;
constexpr std::size_t kTitleSize = 128;
constexpr unsigned kCommonControlClasses = 1;

constexpr int kDefaultDownPorts[] = {IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3, IDC_DOWN_PORT4};
// What a run's request is read from: locked while the run lasts, so what the
// user sees is what the run does.
constexpr int kRequestControls[] = {IDC_ADAPTER_LIST,    IDC_PORT_LIST,  IDC_CATEGORY,  IDC_ORDER,
                                    IDC_SCOPE_PORT,      IDC_SCOPE_CARD, IDC_SCOPE_ALL, IDC_START_NUMBER,
                                    IDC_PLAN_SEQUENTIAL, IDC_ENUMERATE,  IDC_CHANGE};

// Whether the system is 64-bit Windows; written by InitMainDialog.
bool osIs64;
// Registration for USB device interface notifications; user-interface thread only.
void* usbNotification = nullptr;

// Every enabled state of the main dialog, from the run, the category, the
// plan and the hub switches.
void UpdateControlStates() {
    bool idle = busyFlag.load() == 0;
    for (int id : kRequestControls) {
        EnableControl(mainDialog, id, idle);
    }
    // The hub plan exists only for USB cards.
    EnableControl(mainDialog, IDC_PLAN_HUB, idle && ComboGetSelection(mainDialog, IDC_CATEGORY) == kCategoryUsb);
    bool hubPlan = idle && IsButtonChecked(mainDialog, IDC_PLAN_HUB);
    EnableControl(mainDialog, IDC_HUB_UP, hubPlan);
    EnableControl(mainDialog, IDC_HUB_DOWN, hubPlan);
    bool upOn = hubPlan && IsButtonChecked(mainDialog, IDC_HUB_UP);
    bool downOn = hubPlan && IsButtonChecked(mainDialog, IDC_HUB_DOWN);
    for (int box : kUpPortBoxes) {
        EnableControl(mainDialog, box, upOn);
    }
    for (int box : kDownPortBoxes) {
        EnableControl(mainDialog, box, downOn);
    }
}

// A run reads the device table without a lock: no enumeration rewrites it
// under the run, which enumerates itself when it ends. Under Wine a disabled
// button still raises its command, so the lock alone is not enough.
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
        ShowInfo(window, kTextRunActive);
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

// A run refuses to start while another one lasts (logged).
void StartRun() {
    StartRenameRun(ReadRunRequest());
    UpdateControlStates();
}

void StartUndo() {
    StartUndoRun();
    UpdateControlStates();
}

// A run that ended half-way (its process killed, the power lost) is mended
// before anything else: only when no other run holds the machine, as that run
// may be the one whose journal is open.
void RecoverAtStart() {
    if (!AcquireRunLock(0)) {
        return;
    }
    int renamed = RecoverInterruptedRun();
    ReleaseRunLock();
    if (renamed < 0) {
        return;
    }
    char text[kQuestionSize];
    if (IsUnattended()) {
        FormatText(text, sizeof text, kTextRecoveredUnattended, static_cast<unsigned>(renamed));
        ConsoleWrite(text, true);
        return;
    }
    if (renamed > 0) {
        FormatText(text, sizeof text, kTextOfferUndo, static_cast<unsigned>(renamed));
        if (AskYesNo(mainDialog, text)) {
            StartUndo();
        }
    }
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
    InitMainDialog();
    // Opened once more; the new handle (invalid after a failure) replaces the
    // one the start-list fill opened, and the next fill retries.
    ComDbHandle handle = InvalidComDb();
    long result = ComDbOpen(&handle);
    comDb.store(result == 0 ? handle : InvalidComDb());
    if (result != 0) {
        // The database returns its error instead of setting the thread's.
        SetLastErrorCode(static_cast<unsigned>(result));
        LogLastError("DBOpen");
    }
    InitDevManagerLib();
    // Called, not clicked: a click may not reach a dialog that is not active,
    // and the command line's dialog is never shown.
    RefreshDevices();
    RegisterUsbNotification(true);
    AttachAccelerators(window, IDR_ACCELERATORS);
    RecoverAtStart();
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
        PreviewRun(ReadRunRequest(), false);
        return 0;
    case IDM_UNDO:
        StartUndo();
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
        RunModalDialog(IDD_USAGE, window, UsageDialogProc);
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
    SetButtonChecked(mainDialog, IDC_HUB_DOWN, true);
    for (int box : kDefaultDownPorts) {
        SetButtonChecked(mainDialog, box, true);
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
    case kMsgAppendLog:
        AppendToLogEdit(window, static_cast<int>(wParam), reinterpret_cast<const char*>(lParam));
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
        // One step: nothing the user does can land between the refill, the
        // re-enumeration and the release of the run.
        EndRenameRun();
        UpdateControlStates();
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

namespace {

// Under the 32-bit emulation the 64-bit copy does the work: with arguments it
// gets them whole and its exit code becomes this program's.
int HandOver(bool withArguments) {
    // Any folder Windows can hold; user-interface thread only.
    static char folder[kLongPathSize];
    static char arguments[kLongPathSize];
    static char command[2 * kLongPathSize + 32];
    arguments[0] = '\0';
    // Quoted: a folder name with blanks must not start a different program.
    bool built = GetCurrentFolder(folder, sizeof folder) &&
                 (!withArguments || GetArgumentsText(arguments, sizeof arguments)) &&
                 FormatText(command, sizeof command, "\"%s\\X64\\Kestrova_X64.EXE\"%s%s", folder,
                            withArguments ? " " : "", arguments);
    if (!withArguments) {
        if (!built || RunProgram(command) < 32) {
            ShowMessageBox(nullptr, kTextStartFailed, kStartFailCaption, kBoxWarningOk);
        }
        return 0;
    }
    unsigned exitCode = 0;
    if (!built || !RunProgramAndWait(command, &exitCode)) {
        ConsoleWrite(kTextStartFailed, true);
        ConsoleWrite("\n", true);
        return kExitHandOverFailed;
    }
    return static_cast<int>(exitCode);
}

}  // namespace

int RunKestrova() {
    static ArgumentList arguments;
    GetProgramArguments(arguments);
    bool withArguments = arguments.count > 0 || arguments.overflow;
    bool isWow64 = false;
    if (QueryWow64(&isWow64) && isWow64) {
        return HandOver(withArguments);
    }
    if (withArguments) {
        return RunCommandLine(arguments);
    }
    return static_cast<int>(RunModalDialog(IDD_MAIN, nullptr, MainDialogProc));
}

// The test harness over real Win32 windows, for the portable tests run under
// Wine. Dialogs come from the test program's own resources (the program's
// templates). Message boxes are found by a watcher thread, since the program
// shows them from its worker thread as well as from the user-interface
// thread; modal dialogs of the program are handed to their drivers from
// inside their own modal loop, as a user would work them.
#include "tests/support/harness.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr UINT kDriveMessage = WM_APP + 1;  // wParam: the modal dialog to drive
constexpr UINT kCheckMessage = WM_APP + 2;  // wParam: the driven dialog, ended with 2 if still running
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr unsigned kWatchIntervalMs = 10;

struct Driver {
    int templateId;
    HarnessDriver driver;
    void* context;
    std::wstring caption;
    int controlCount;
};

struct PendingModal {
    HWND dialog;
    int driver;  // index into drivers, -1 for none
    bool posted;
};

// Touched only by the user-interface thread (the thread that first used the
// harness) and its hooks.
struct UiState {
    bool ready = false;
    DWORD thread = 0;
    HWND helper = nullptr;
    std::vector<HWND> opened;
    bool openingModeless = false;
    std::vector<Driver> drivers;
    std::vector<PendingModal> pending;
};
UiState ui;

std::atomic<bool> quitPosted{false};
std::atomic<int> quitCode{0};

// Shared with the watcher thread.
struct BoxState {
    std::mutex lock;
    std::deque<HarnessBox> boxes;
    std::deque<int> answers;
    int unscripted = 0;
    std::vector<HWND> answered;
};
BoxState boxState;

HINSTANCE TestModule() { return GetModuleHandleW(nullptr); }

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

// Copies text into buffer, cut at a character boundary; returns the full length.
int CopyOut(const std::string& text, char* buffer, std::size_t size) {
    if (size > 0) {
        std::size_t n = std::min(text.size(), size - 1);
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
            --n;
        }
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

std::wstring WindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64];
    int length = GetClassNameW(window, name, 64);
    return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

bool IsDialogWindow(HWND window) { return ClassOf(window) == L"#32770"; }

// Whether a dialog's procedure is this program's own (a template of the
// program) rather than the system's (a message box).
bool HasProgramProcedure(HWND dialog) {
    auto proc = GetWindowLongPtrW(dialog, DWLP_DLGPROC);
    if (proc == 0) {
        return false;
    }
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(proc), &module)) {
        return false;
    }
    return module == TestModule();
}

int ChildCount(HWND window) {
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        ++count;
    }
    return count;
}

// Skips a name-or-ordinal field of a dialog template.
const WORD* SkipField(const WORD* field) {
    if (*field == 0) {
        return field + 1;
    }
    if (*field == 0xFFFF) {
        return field + 2;
    }
    while (*field != 0) {
        ++field;
    }
    return field + 1;
}

// Reads the caption and the control count of a dialog template of the test
// program, from either template format.
bool ReadTemplate(int templateId, std::wstring* caption, int* controlCount) {
    HRSRC found = FindResourceW(TestModule(), MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5));  // RT_DIALOG
    if (found == nullptr) {
        return false;
    }
    auto* words = static_cast<const WORD*>(LockResource(LoadResource(TestModule(), found)));
    if (words == nullptr) {
        return false;
    }
    const WORD* field;
    if (words[0] == 1 && words[1] == 0xFFFF) {  // extended template
        *controlCount = words[8];
        field = words + 13;
    } else {
        *controlCount = words[4];
        field = words + 9;
    }
    field = SkipField(field);  // menu
    field = SkipField(field);  // class
    *caption = reinterpret_cast<const wchar_t*>(field);
    return true;
}

int FindDriver(HWND dialog) {
    std::wstring caption = WindowText(dialog);
    int children = ChildCount(dialog);
    for (std::size_t i = 0; i < ui.drivers.size(); ++i) {
        if (ui.drivers[i].caption == caption && ui.drivers[i].controlCount == children) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

PendingModal* FindPending(HWND dialog) {
    for (auto& entry : ui.pending) {
        if (entry.dialog == dialog) {
            return &entry;
        }
    }
    return nullptr;
}

void PostDrive(PendingModal& entry) {
    entry.posted = true;
    PostMessageW(ui.helper, kDriveMessage, reinterpret_cast<WPARAM>(entry.dialog), 0);
}

// Before a dialog procedure sees its initialise message: a modal dialog of the
// program is remembered with its driver, chosen by the template's caption
// (the procedure may change it) and control count.
LRESULT CALLBACK BeforeMessage(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_INITDIALOG && !ui.openingModeless &&
        IsDialogWindow(message->hwnd) && HasProgramProcedure(message->hwnd) && FindPending(message->hwnd) == nullptr) {
        // Dialogs ended before they were ever shown are never driven.
        ui.pending.erase(std::remove_if(ui.pending.begin(), ui.pending.end(),
                                        [](const PendingModal& entry) { return !IsWindow(entry.dialog); }),
                         ui.pending.end());
        ui.pending.push_back(PendingModal{message->hwnd, FindDriver(message->hwnd), false});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The modal loop shows its dialog when the queue first runs empty; the driver
// starts from then on, with the dialog on screen.
LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && (message->message == WM_INITDIALOG ||
                              (message->message == WM_SHOWWINDOW && message->wParam != 0))) {
        PendingModal* entry = FindPending(message->hwnd);
        if (entry != nullptr && !entry->posted &&
            (message->message == WM_SHOWWINDOW || IsWindowVisible(message->hwnd))) {
            PostDrive(*entry);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kDriveMessage) {
        auto dialog = reinterpret_cast<HWND>(wParam);
        HarnessDriver driver = nullptr;
        void* context = nullptr;
        if (PendingModal* entry = FindPending(dialog)) {
            if (entry->driver >= 0) {
                driver = ui.drivers[static_cast<std::size_t>(entry->driver)].driver;
                context = ui.drivers[static_cast<std::size_t>(entry->driver)].context;
            }
            ui.pending.erase(ui.pending.begin() + (entry - ui.pending.data()));
        }
        if (IsWindow(dialog)) {
            if (driver != nullptr) {
                driver(dialog, context);
            }
            // Reached inside the modal loop only if the dialog was not ended:
            // an ended dialog leaves its loop after this message and is gone.
            PostMessageW(window, kCheckMessage, wParam, 0);
        }
        return 0;
    }
    if (message == kCheckMessage) {
        auto dialog = reinterpret_cast<HWND>(wParam);
        if (IsWindow(dialog)) {
            EndDialog(dialog, 2);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// ---- message boxes ----

HWND FindIconStatic(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ClassOf(child) == L"Static") {
            return child;
        }
    }
    return nullptr;
}

unsigned BoxKind(HWND box) {
    unsigned buttons = MB_OK;
    if (GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr) {
        buttons = MB_YESNO;
    } else if (GetDlgItem(box, IDOK) != nullptr && GetDlgItem(box, IDCANCEL) != nullptr) {
        buttons = MB_OKCANCEL;
    }
    unsigned icon = 0;
    if (HWND iconStatic = FindIconStatic(box)) {
        auto shown = reinterpret_cast<HICON>(SendMessageW(iconStatic, STM_GETICON, 0, 0));
        if (shown == LoadIconW(nullptr, IDI_INFORMATION)) {
            icon = MB_ICONINFORMATION;
        } else if (shown == LoadIconW(nullptr, IDI_WARNING)) {
            icon = MB_ICONWARNING;
        } else if (shown == LoadIconW(nullptr, IDI_ERROR)) {
            icon = MB_ICONERROR;
        } else if (shown == LoadIconW(nullptr, IDI_QUESTION)) {
            icon = MB_ICONQUESTION;
        }
    }
    return icon | buttons;
}

int DefaultAnswer(unsigned kind) { return (kind & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK; }

// A message box of this process, on screen (its modal loop has initialised
// it): a system dialog with the message text static.
bool IsMessageBox(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !IsDialogWindow(window)) {
        return false;
    }
    HWND text = GetDlgItem(window, kMessageBoxTextId);
    return text != nullptr && ClassOf(text) == L"Static" && !HasProgramProcedure(window);
}

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam) {
    if (IsMessageBox(window)) {
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    }
    return TRUE;
}

void AnswerBox(HWND box) {
    HarnessBox record{};
    record.owner = GetWindow(box, GW_OWNER);
    record.kind = BoxKind(box);
    CopyOut(ToUtf8(WindowText(GetDlgItem(box, kMessageBoxTextId))), record.text, sizeof record.text);
    CopyOut(ToUtf8(WindowText(box)), record.caption, sizeof record.caption);
    int answer;
    {
        std::lock_guard<std::mutex> hold(boxState.lock);
        if (!boxState.answers.empty()) {
            answer = boxState.answers.front();
            boxState.answers.pop_front();
        } else {
            answer = DefaultAnswer(record.kind);
            ++boxState.unscripted;
        }
        boxState.boxes.push_back(record);
        boxState.answered.push_back(box);
    }
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
}

DWORD WINAPI WatchBoxes(void*) {
    std::vector<HWND> found;
    for (;;) {
        found.clear();
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&found));
        {
            std::lock_guard<std::mutex> hold(boxState.lock);
            auto& answered = boxState.answered;
            answered.erase(std::remove_if(answered.begin(), answered.end(), [](HWND box) { return !IsWindow(box); }),
                           answered.end());
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [&answered](HWND box) {
                                           return std::find(answered.begin(), answered.end(), box) != answered.end();
                                       }),
                        found.end());
        }
        for (HWND box : found) {
            AnswerBox(box);
        }
        Sleep(kWatchIntervalMs);
    }
}

// The calling thread becomes the harness's user-interface thread.
void EnsureHarness() {
    if (ui.ready) {
        return;
    }
    ui.ready = true;
    ui.thread = GetCurrentThreadId();
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    WNDCLASSW helperClass{};
    helperClass.lpfnWndProc = HelperProc;
    helperClass.hInstance = TestModule();
    helperClass.lpszClassName = L"KestrovaHarnessHelper";
    RegisterClassW(&helperClass);
    ui.helper = CreateWindowExW(0, helperClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                TestModule(), nullptr);
    SetWindowsHookExW(WH_CALLWNDPROC, BeforeMessage, nullptr, ui.thread);
    SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessage, nullptr, ui.thread);
    HANDLE watcher = CreateThread(nullptr, 0, WatchBoxes, nullptr, 0, nullptr);
    if (watcher != nullptr) {
        CloseHandle(watcher);
    }
}

HWND Control(Window dialog, int id) { return dialog != nullptr ? GetDlgItem(dialog, id) : nullptr; }

}  // namespace

Window HarnessOpenDialog(int templateId, DialogProc proc) {
    EnsureHarness();
    ui.openingModeless = true;
    HWND dialog =
        CreateDialogParamW(TestModule(), MAKEINTRESOURCEW(templateId), nullptr, reinterpret_cast<DLGPROC>(proc), 0);
    ui.openingModeless = false;
    if (dialog != nullptr) {
        ui.opened.push_back(dialog);
        // On screen as the program's dialogs are: a dialog whose
        // initialisation left no control focused gives the focus to its first
        // tab stop now.
        ShowWindow(dialog, SW_SHOW);
    }
    return dialog;
}

void HarnessCloseDialog(Window dialog) {
    EnsureHarness();
    if (IsWindow(dialog)) {
        DestroyWindow(dialog);
    }
    ui.opened.erase(std::remove(ui.opened.begin(), ui.opened.end(), dialog), ui.opened.end());
}

void HarnessPump() {
    EnsureHarness();
    MSG message;
    // Bounded, so that a message that keeps reposting itself cannot hang a test.
    for (int handled = 0; handled < 100000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
        if (message.message == WM_QUIT) {
            quitCode = static_cast<int>(message.wParam);
            quitPosted = true;
            continue;
        }
        HWND root = message.hwnd != nullptr ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
        if (root != nullptr && std::find(ui.opened.begin(), ui.opened.end(), root) != ui.opened.end() &&
            IsDialogMessageW(root, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
    EnsureHarness();
    ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        HarnessPump();
        if (done(context)) {
            return true;
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) {
            return false;
        }
        // Short waits: the condition may turn true on another thread without
        // a message for this one.
        DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10));
        MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void HarnessQueueAnswer(int answer) {
    EnsureHarness();
    std::lock_guard<std::mutex> hold(boxState.lock);
    boxState.answers.push_back(answer);
}

int HarnessBoxCount() {
    std::lock_guard<std::mutex> hold(boxState.lock);
    return static_cast<int>(boxState.boxes.size());
}

const HarnessBox& HarnessBoxAt(int index) {
    std::lock_guard<std::mutex> hold(boxState.lock);
    return boxState.boxes.at(static_cast<std::size_t>(index));
}

int HarnessUnscriptedBoxes() {
    std::lock_guard<std::mutex> hold(boxState.lock);
    return boxState.unscripted;
}

void HarnessResetBoxes() {
    std::lock_guard<std::mutex> hold(boxState.lock);
    boxState.boxes.clear();
    boxState.answers.clear();
    boxState.unscripted = 0;
}

void HarnessSetModalDriver(int templateId, HarnessDriver driver, void* context) {
    EnsureHarness();
    ui.drivers.erase(std::remove_if(ui.drivers.begin(), ui.drivers.end(),
                                    [templateId](const Driver& entry) { return entry.templateId == templateId; }),
                     ui.drivers.end());
    Driver entry{templateId, driver, context, {}, 0};
    if (driver != nullptr && ReadTemplate(templateId, &entry.caption, &entry.controlCount)) {
        ui.drivers.push_back(entry);
    }
}

int HarnessListText(Window dialog, int id, int row, char* buffer, std::size_t size) {
    HWND list = Control(dialog, id);
    if (list == nullptr) {
        return -1;
    }
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length < 0) {
        return -1;
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return CopyOut(ToUtf8(text), buffer, size);
}

int HarnessComboText(Window dialog, int id, int row, char* buffer, std::size_t size) {
    HWND combo = Control(dialog, id);
    if (combo == nullptr) {
        return -1;
    }
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(row), 0);
    if (length < 0) {
        return -1;
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied =
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return CopyOut(ToUtf8(text), buffer, size);
}

int HarnessEditText(Window dialog, int id, char* buffer, std::size_t size) {
    return HarnessControlText(dialog, id, buffer, size);
}

int HarnessControlText(Window dialog, int id, char* buffer, std::size_t size) {
    HWND control = Control(dialog, id);
    if (control == nullptr) {
        return -1;
    }
    return CopyOut(ToUtf8(WindowText(control)), buffer, size);
}

int HarnessStatusText(Window dialog, int id, char* buffer, std::size_t size) {
    HWND status = Control(dialog, id);
    if (status == nullptr) {
        return -1;
    }
    auto length = LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, 0, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    auto copied = LOWORD(SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text.data())));
    text.resize(std::min<std::size_t>(copied, length));
    return CopyOut(ToUtf8(text), buffer, size);
}

int HarnessWindowTitle(Window window, char* buffer, std::size_t size) {
    if (!IsWindow(window)) {
        return -1;
    }
    return CopyOut(ToUtf8(WindowText(window)), buffer, size);
}

int HarnessProgressMax(Window dialog, int id) {
    HWND bar = Control(dialog, id);
    return bar != nullptr ? static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)) : -1;
}

int HarnessProgressPos(Window dialog, int id) {
    HWND bar = Control(dialog, id);
    return bar != nullptr ? static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0)) : -1;
}

bool HarnessHasFocus(Window dialog, int id) {
    HWND control = Control(dialog, id);
    if (control == nullptr) {
        return false;
    }
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) || info.hwndFocus == nullptr) {
        return false;
    }
    // A combo box with an edit field keeps the focus in that field.
    return info.hwndFocus == control || IsChild(control, info.hwndFocus);
}

bool HarnessQuitPosted(int* code) {
    if (code != nullptr) {
        *code = quitCode;
    }
    return quitPosted;
}

void HarnessResetQuit() {
    quitPosted = false;
    quitCode = 0;
}

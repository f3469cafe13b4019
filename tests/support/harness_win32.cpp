// The test harness over real Win32 windows, for the portable tests run under
// Wine. Dialogs come from the test program's own resources (the program's
// templates). Message boxes are found by a watcher thread, since the program
// shows them from its worker thread as well as from the user-interface
// thread, and each blocks its thread until answered.
#include "tests/support/harness.h"

#include <commctrl.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;
constexpr unsigned kWatchIntervalMs = 10;

// Shared by the user-interface thread and the watcher thread.
struct BoxState {
    std::mutex lock;
    std::deque<HarnessBox> boxes;
    std::deque<int> answers;
    int unscripted = 0;
    std::vector<HWND> answered;
    std::vector<HWND> opened;  // the test's own dialogs, never taken for boxes
};
BoxState state;

std::string ToUtf8(const std::wstring& text) {
    int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(std::max(GetWindowTextW(window, text.data(), static_cast<int>(text.size())), 0)));
    return ToUtf8(text);
}

bool HasClass(HWND window, const wchar_t* name) {
    wchar_t found[32];
    return GetClassNameW(window, found, 32) > 0 && lstrcmpiW(found, name) == 0;
}

unsigned BoxKind(HWND box) {
    unsigned kind = GetDlgItem(box, IDYES) != nullptr      ? MB_YESNO
                    : GetDlgItem(box, IDCANCEL) != nullptr ? MB_OKCANCEL
                                                           : MB_OK;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && HasClass(child, L"Static")) {
            auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
            kind |= icon == LoadIconW(nullptr, IDI_INFORMATION) ? MB_ICONINFORMATION
                    : icon == LoadIconW(nullptr, IDI_WARNING)   ? MB_ICONWARNING
                                                                : 0;
        }
    }
    return kind;
}

// A message box of this process on screen: a system dialog with the message
// text static.
BOOL CALLBACK CollectBox(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && HasClass(window, L"#32770") &&
        GetDlgItem(window, kMessageBoxTextId) != nullptr) {
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    }
    return TRUE;
}

void AnswerBox(HWND box) {
    HarnessBox record{GetWindow(box, GW_OWNER), BoxKind(box), WindowText(GetDlgItem(box, kMessageBoxTextId)),
                      WindowText(box)};
    int answer;
    {
        std::lock_guard<std::mutex> hold(state.lock);
        if (!state.answers.empty()) {
            answer = state.answers.front();
            state.answers.pop_front();
        } else {
            answer = (record.kind & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
            ++state.unscripted;
        }
        state.boxes.push_back(record);
        state.answered.push_back(box);
    }
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(answer), 0);
}

DWORD WINAPI WatchBoxes(void*) {
    for (;;) {
        std::vector<HWND> found;
        EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&found));
        {
            std::lock_guard<std::mutex> hold(state.lock);
            auto& answered = state.answered;
            answered.erase(std::remove_if(answered.begin(), answered.end(), [](HWND box) { return !IsWindow(box); }),
                           answered.end());
            found.erase(std::remove_if(found.begin(), found.end(),
                                       [](HWND box) {
                                           return std::count(state.answered.begin(), state.answered.end(), box) +
                                                      std::count(state.opened.begin(), state.opened.end(), box) >
                                                  0;
                                       }),
                        found.end());
        }
        for (HWND box : found) {
            AnswerBox(box);
        }
        Sleep(kWatchIntervalMs);
    }
}

HWND Control(Window dialog, int id) { return dialog != nullptr ? GetDlgItem(dialog, id) : nullptr; }

}  // namespace

Window HarnessOpenDialog(int templateId, DialogProc proc) {
    static const bool started = [] {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
        InitCommonControlsEx(&classes);
        HANDLE watcher = CreateThread(nullptr, 0, WatchBoxes, nullptr, 0, nullptr);
        return watcher != nullptr && CloseHandle(watcher);
    }();
    if (!started) {
        return nullptr;
    }
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), nullptr,
                                     reinterpret_cast<DLGPROC>(proc), 0);
    if (dialog != nullptr) {
        {
            std::lock_guard<std::mutex> hold(state.lock);
            state.opened.push_back(dialog);
        }
        // On screen as the program's dialogs are: with no control focused by
        // its initialisation, the first tab stop gets the focus now.
        ShowWindow(dialog, SW_SHOW);
    }
    return dialog;
}

void HarnessCloseDialog(Window dialog) {
    DestroyWindow(dialog);
    std::lock_guard<std::mutex> hold(state.lock);
    state.opened.erase(std::remove(state.opened.begin(), state.opened.end(), dialog), state.opened.end());
}

void HarnessPump() {
    MSG message;
    // Bounded, so that a message that keeps reposting itself cannot hang a test.
    for (int handled = 0; handled < 100000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++handled) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
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
    std::lock_guard<std::mutex> hold(state.lock);
    state.answers.push_back(answer);
}

int HarnessBoxCount() {
    std::lock_guard<std::mutex> hold(state.lock);
    return static_cast<int>(state.boxes.size());
}

HarnessBox HarnessBoxAt(int index) {
    std::lock_guard<std::mutex> hold(state.lock);
    return index >= 0 && index < static_cast<int>(state.boxes.size()) ? state.boxes[static_cast<std::size_t>(index)]
                                                                      : HarnessBox{};
}

int HarnessUnscriptedBoxes() {
    std::lock_guard<std::mutex> hold(state.lock);
    return state.unscripted;
}

void HarnessResetBoxes() {
    std::lock_guard<std::mutex> hold(state.lock);
    state.boxes.clear();
    state.answers.clear();
    state.unscripted = 0;
}

std::string HarnessText(Window dialog, int id) {
    HWND control = Control(dialog, id);
    return control != nullptr ? WindowText(control) : "<missing>";
}

std::string HarnessRowText(Window dialog, int id, int row) {
    HWND control = Control(dialog, id);
    bool combo = control != nullptr && HasClass(control, L"ComboBox");
    LRESULT length = control != nullptr ? SendMessageW(control, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, row, 0) : -1;
    if (length < 0) {
        return "<missing>";
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    LRESULT copied =
        SendMessageW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(copied, 0)));
    return ToUtf8(text);
}

bool HarnessHasFocus(Window dialog, int id) {
    HWND control = Control(dialog, id);
    HWND focus = GetFocus();
    // A combo box with an edit field keeps the focus in that field.
    return control != nullptr && focus != nullptr && (focus == control || IsChild(control, focus));
}

int HarnessEditLength(Window dialog, int id) {
    HWND edit = Control(dialog, id);
    return edit != nullptr ? GetWindowTextLengthW(edit) : -1;
}

void HarnessSetEditSelection(Window dialog, int id, int start, int end) {
    SendDlgItemMessageW(dialog, id, EM_SETSEL, static_cast<WPARAM>(start), end);
}

// The platform seam in memory, for native tests. Dialogs are built from the
// layout tables and behave like their Win32 counterparts where the program
// relies on it: selection rules of lists and combos, auto radio groups and
// check boxes, the edit control's text limit, the progress bar's range, focus
// notifications, modal dialogs, and threads. Kernel services, the COM port
// database and device notifications are stand-ins that tests set up and
// inspect through model.h.
//
// Threads: a window belongs to the thread that created it. A window
// operation called on another thread is handed to the owner and the caller
// waits until the owner runs it while pumping (ModelPump, ModelPumpUntil, or
// a modal driver that pumps), as a message sent across threads would be; the
// waiting thread meanwhile runs calls sent to its own windows. Posted clicks
// run only when the owner pumps. Dialog procedures are always called without
// the model's lock held.
#include "platform/model/model.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

#include "resources/ids.h"
#include "resources/layout.h"
#include "resources/strings.h"

namespace {

// Win32 style bits and notification codes the model reads or sends.
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsDisabled = 0x08000000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kLbsNotify = 0x0001;
constexpr std::uint32_t kBsNotify = 0x4000;
constexpr std::uint32_t kCbsTypeMask = 0x0003;
constexpr std::uint32_t kCbsDropDownList = 0x0003;
constexpr unsigned kComboSelEndCancel = 10;  // CBN_SELENDCANCEL
constexpr unsigned kListSetFocus = 4;        // LBN_SETFOCUS
constexpr unsigned kListKillFocus = 5;       // LBN_KILLFOCUS
constexpr unsigned kEditSetFocus = 0x0100;   // EN_SETFOCUS
constexpr unsigned kEditKillFocus = 0x0200;  // EN_KILLFOCUS
constexpr unsigned kButtonSetFocus = 6;      // BN_SETFOCUS, BS_NOTIFY buttons only
constexpr unsigned kButtonKillFocus = 7;     // BN_KILLFOCUS

// An edit control starts with a limit of 30000 characters (UTF-16 units, as
// the Unicode control counts them); EM_SETLIMITTEXT 0 raises it to the
// maximum. Appending honours the limit, setting the whole text does not.
constexpr std::size_t kEditDefaultLimit = 30000;
constexpr std::size_t kEditMaximumLimit = 0x7FFFFFFE;
constexpr int kProgressDefaultMax = 100;

constexpr long kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr long kErrorSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr unsigned kErrorFileNotFound = 2;   // ERROR_FILE_NOT_FOUND
constexpr unsigned kWinExecSuccess = 33;     // any value above 31 is success
constexpr std::size_t kComDbBytes = kModelComDbNumbers / 8;

struct ModelControl {
    int id = -1;
    ControlKind kind = ControlKind::Static;
    std::uint32_t style = 0;
    bool groupStart = false;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::string text;  // window text: label, edit text, combo edit field, status text
    // An edit control's length and selection, in UTF-16 units as the Unicode
    // control counts them; the caret is an empty selection.
    std::size_t units = 0;
    std::size_t selStart = 0;
    std::size_t selEnd = 0;
    std::vector<std::string> rows;
    int selection = -1;
    std::size_t limit = kEditDefaultLimit;
    int rangeMax = kProgressDefaultMax;
    int position = 0;
};

}  // namespace

struct ModelWindow {
    int templateId = 0;
    DialogProc proc = nullptr;
    std::thread::id owner;
    std::string title;
    int icon = 0;
    std::vector<ModelControl> controls;
    bool alive = true;
    bool destroying = false;
    bool modal = false;
    bool ended = false;
    bool activated = false;
    bool enabled = true;
    bool disabledOwner = false;  // this modal dialog disabled its owner
    intptr_t result = 0;
    ModelWindow* ownerWindow = nullptr;
    int savedFocus = -1;  // the control that had the focus when another dialog took it
};

namespace {

// A call handed to another thread, waiting there until run.
struct SentCall {
    const std::function<void()>* work;
    bool done;
};

struct PostedClick {
    ModelWindow* dialog;
    int id;
};

struct Timer {
    ModelWindow* window;
    unsigned id;
};

struct ThreadState {
    std::deque<SentCall*> sent;
    std::deque<PostedClick> posted;
    std::vector<Timer> timers;
    // Focus is per thread in Win32 too.
    ModelWindow* focusWindow = nullptr;
    int focusIndex = -1;
};

struct Driver {
    ModelDriver driver;
    void* context;
};

std::string Lowercase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

struct State {
    std::vector<std::unique_ptr<ModelWindow>> windows;
    std::map<std::thread::id, ThreadState> threads;
    std::map<int, Driver> drivers;

    std::deque<ModelBox> boxes;
    std::deque<int> answers;
    int unscripted = 0;
    bool quitPosted = false;
    int quitCode = 0;

    bool fixedTime = false;
    LocalTime time{};
    std::string debugText;
    std::map<std::string, unsigned> portResults;  // by lowercased path
    std::vector<std::string> openedPorts;
    std::vector<unsigned> sleeps;
    int runningThreads = 0;
    int startedThreads = 0;
    bool startFails = false;
    bool hasWindowsFolder = true;
    bool hasSystemFolder = true;
    bool hasCurrentFolder = true;
    std::string windowsFolder = "C:\\windows";
    std::string systemFolder = "C:\\windows\\system32";
    std::string currentFolder = "C:\\work";
    // Lowercased, no trailing backslash. The three folders above exist; a
    // 64-bit system's SYSWOW64 does not until a test adds it.
    std::set<std::string> folders{"c:\\windows", "c:\\windows\\system32", "c:\\work"};
    unsigned runResult = kWinExecSuccess;
    std::vector<std::string> runCommands;
    int wow64 = 0;

    std::array<std::uint8_t, kComDbBytes> comDb{};
    long comDbOpenFailure = 0;
    long comDbWriteFailure = 0;
    unsigned comDbRivalTrigger = 0;  // a claim or release of this number...
    unsigned comDbRivalNumber = 0;   // ...lets another program flip this one first
    int comDbOpens = 0;

    int usbRegistrations = 0;
    int usbUnregistrations = 0;
    Window usbWindow = nullptr;

    // The command line, the console, files and the machine-wide run lock.
    std::string arguments;
    std::string console;
    std::string consoleErrors;
    std::map<std::string, std::string> files;  // by lowercased path
    bool failWrites = false;
    bool lockHeldElsewhere = false;
    bool lockOwned = false;
    bool hasProgramData = true;
    std::string programData = "C:\\ProgramData";
    unsigned exitCode = 0;
};

// Never destroyed: a detached worker may still touch it while the process exits.
State& S() {
    static State* state = new State;
    return *state;
}
std::mutex& Lock() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
std::condition_variable& Wake() {
    static std::condition_variable* wake = new std::condition_variable;
    return *wake;
}

thread_local unsigned lastError = 0;
char comDbToken;
char usbToken;

ComDbHandle ValidComDb() { return &comDbToken; }

// ---- windows, with the lock held ----

ModelWindow* LiveLocked(Window window) {
    if (window == nullptr) {
        return nullptr;
    }
    for (const auto& w : S().windows) {
        if (w.get() == window) {
            return w->alive ? w.get() : nullptr;
        }
    }
    return nullptr;
}

// Like GetDlgItem: the first control with the id.
int IndexLocked(const ModelWindow* w, int id) {
    if (id == -1) {
        return -1;
    }
    for (std::size_t i = 0; i < w->controls.size(); ++i) {
        if (w->controls[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ModelControl* ControlLocked(Window window, int id) {
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return nullptr;
    }
    int index = IndexLocked(w, id);
    return index < 0 ? nullptr : &w->controls[static_cast<std::size_t>(index)];
}

ModelControl* ControlLocked(Window window, int id, ControlKind kind) {
    ModelControl* c = ControlLocked(window, id);
    return c != nullptr && c->kind == kind ? c : nullptr;
}

ThreadState& ThreadLocked(std::thread::id id) { return S().threads[id]; }
ThreadState& SelfLocked() { return ThreadLocked(std::this_thread::get_id()); }

bool IsButtonKind(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton ||
           kind == ControlKind::AutoRadio || kind == ControlKind::AutoCheck;
}

// The first control GetNextDlgTabItem would give: a visible, enabled tab stop.
int FirstTabStopLocked(const ModelWindow* w) {
    for (std::size_t i = 0; i < w->controls.size(); ++i) {
        const ModelControl& c = w->controls[i];
        if ((c.style & kWsTabStop) != 0 && c.visible && c.enabled) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// ---- calling dialog procedures ----

intptr_t ControlHandle(ModelWindow* w, int index) {
    return reinterpret_cast<intptr_t>(&w->controls[static_cast<std::size_t>(index)]);
}

intptr_t SendToProc(ModelWindow* w, unsigned message, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return 0;
        }
    }
    return w->proc(w, message, wParam, lParam);
}

// Up to two notifications of one control to its dialog, sent in order.
struct Notice {
    ModelWindow* window = nullptr;
    int id = 0;
    std::array<unsigned, 2> codes{};
    intptr_t handle = 0;
};

void Deliver(const Notice& notice) {
    for (unsigned code : notice.codes) {
        if (notice.window != nullptr && code != 0) {
            SendToProc(notice.window, kMsgCommand, CommandParam(static_cast<unsigned>(notice.id), code), notice.handle);
        }
    }
}

// The notifications a control sends its dialog when it gains or loses the
// focus, if it sends any. A combo box losing the focus closes its (closed)
// list first, which it reports as a cancelled selection.
Notice FocusNoticeLocked(ModelWindow* w, int index, bool gained) {
    const ModelControl& c = w->controls[static_cast<std::size_t>(index)];
    unsigned code = 0;
    unsigned before = 0;
    switch (c.kind) {
    case ControlKind::ComboBox:
        code = gained ? kComboSetFocus : kComboKillFocus;
        before = gained ? 0 : kComboSelEndCancel;
        break;
    case ControlKind::ListBox:
        if ((c.style & kLbsNotify) != 0) {
            code = gained ? kListSetFocus : kListKillFocus;
        }
        break;
    case ControlKind::Edit:
        code = gained ? kEditSetFocus : kEditKillFocus;
        break;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::AutoRadio:
    case ControlKind::AutoCheck:
        if ((c.style & kBsNotify) != 0) {
            code = gained ? kButtonSetFocus : kButtonKillFocus;
        }
        break;
    default:
        break;
    }
    if (code == 0 || c.id == -1) {
        return Notice{};
    }
    if (before != 0) {
        return Notice{w, c.id, {before, code}, ControlHandle(w, index)};
    }
    return Notice{w, c.id, {code, 0}, ControlHandle(w, index)};
}

bool IsComboWithEdit(const ModelControl& c) {
    return c.kind == ControlKind::ComboBox && (c.style & kCbsTypeMask) != kCbsDropDownList;
}

// Moves the calling thread's focus to a control (window nullptr: to none).
// The control losing the focus notifies first, then the one gaining it. A
// combo box with an edit field that is asked for the focus it already has
// loses and regains it (the focus passes from its edit field to the combo and
// back), so it sends both notifications again.
void MoveFocus(ModelWindow* window, int index, bool refocusCombo) {
    Notice kill;
    Notice set;
    {
        std::lock_guard lock(Lock());
        ThreadState& self = SelfLocked();
        if (window != nullptr && LiveLocked(window) == nullptr) {
            return;
        }
        bool same = self.focusWindow == window && (window == nullptr || self.focusIndex == index);
        if (same && !(refocusCombo && window != nullptr &&
                      IsComboWithEdit(window->controls[static_cast<std::size_t>(index)]))) {
            return;
        }
        if (self.focusWindow != nullptr && LiveLocked(self.focusWindow) != nullptr && self.focusIndex >= 0) {
            kill = FocusNoticeLocked(self.focusWindow, self.focusIndex, false);
        }
        self.focusWindow = window;
        self.focusIndex = window != nullptr ? index : -1;
        if (window != nullptr) {
            set = FocusNoticeLocked(window, index, true);
        }
    }
    Deliver(kill);
    Deliver(set);
}

// SetFocus refuses a disabled control or a control of a disabled dialog.
bool CanTakeFocusLocked(const ModelWindow* w, int index) {
    return w->enabled && w->controls[static_cast<std::size_t>(index)].enabled;
}

// A dialog becoming the active window: when the focus is elsewhere, the
// dialog that has it remembers its control, and the new dialog's first tab
// stop gets the focus.
void Activate(ModelWindow* w) {
    int target;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr || w->ended) {
            return;
        }
        w->activated = true;
        ThreadState& self = SelfLocked();
        if (self.focusWindow == w) {
            return;
        }
        if (self.focusWindow != nullptr && LiveLocked(self.focusWindow) != nullptr) {
            self.focusWindow->savedFocus = self.focusIndex;
        }
        target = FirstTabStopLocked(w);
    }
    MoveFocus(target >= 0 ? w : nullptr, target, false);
}

// The owner of an ended modal dialog becoming active again: its remembered
// control gets the focus back, or its first tab stop when it remembered none.
void RestoreFocus(ModelWindow* w) {
    int target;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        ThreadState& self = SelfLocked();
        if (self.focusWindow == w) {
            return;
        }
        target = w->savedFocus >= 0 ? w->savedFocus : FirstTabStopLocked(w);
        if (target >= 0 && !CanTakeFocusLocked(w, target)) {
            target = -1;
        }
    }
    if (target >= 0) {
        MoveFocus(w, target, false);
    }
}

// ---- running on the owner thread ----

// Runs one call queued for the calling thread; the lock is held on entry and exit.
void RunOneSent(std::unique_lock<std::mutex>& lock, ThreadState& self) {
    SentCall* call = self.sent.front();
    self.sent.pop_front();
    lock.unlock();
    (*call->work)();
    lock.lock();
    call->done = true;
    Wake().notify_all();
}

// Runs work on the thread that owns window, as SendMessage would; nothing
// happens when the window does not exist.
void OnOwner(Window window, const std::function<void()>& work) {
    std::unique_lock lock(Lock());
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return;
    }
    if (w->owner == std::this_thread::get_id()) {
        lock.unlock();
        work();
        return;
    }
    SentCall call{&work, false};
    ThreadLocked(w->owner).sent.push_back(&call);
    Wake().notify_all();
    ThreadState& self = SelfLocked();
    while (!call.done) {
        if (!self.sent.empty()) {
            RunOneSent(lock, self);
            continue;
        }
        Wake().wait(lock);
    }
}

// ---- operations, on the owner thread ----

void UncheckGroupLocked(ModelWindow* w, std::size_t index) {
    // The group runs from the last WS_GROUP control at or before the button
    // to the control before the next WS_GROUP one. As in the button control,
    // siblings are found the way GetNextDlgGroupItem walks the group, which
    // passes over hidden and disabled controls.
    std::size_t first = index;
    while (first > 0 && !w->controls[first].groupStart) {
        --first;
    }
    std::size_t end = index + 1;
    while (end < w->controls.size() && !w->controls[end].groupStart) {
        ++end;
    }
    for (std::size_t i = first; i < end; ++i) {
        ModelControl& sibling = w->controls[i];
        if (i != index && sibling.kind == ControlKind::AutoRadio && sibling.visible && sibling.enabled) {
            sibling.checked = false;
        }
    }
}

// BM_CLICK: the button takes the focus, an auto radio button becomes checked
// and unchecks its group, an auto check box toggles, then the dialog gets
// BN_CLICKED. BM_CLICK does not look at WS_DISABLED (as seen under Wine with
// Common Controls 6, the program's controls): a disabled button, or a button
// of a disabled dialog, still changes state and reports the click; it only
// cannot take the focus. Nothing keeps a disabled button from being clicked
// by the program itself.
void ClickNow(Window dialog, int id) {
    ModelWindow* w;
    int index;
    bool takeFocus;
    {
        std::lock_guard lock(Lock());
        w = LiveLocked(dialog);
        if (w == nullptr) {
            return;
        }
        index = IndexLocked(w, id);
        if (index < 0) {
            return;
        }
        if (!IsButtonKind(w->controls[static_cast<std::size_t>(index)].kind)) {
            return;
        }
        takeFocus = CanTakeFocusLocked(w, index);
    }
    if (takeFocus) {
        MoveFocus(w, index, false);
    }
    intptr_t handle;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        ModelControl& c = w->controls[static_cast<std::size_t>(index)];
        if (c.kind == ControlKind::AutoCheck) {
            c.checked = !c.checked;
        } else if (c.kind == ControlKind::AutoRadio) {
            c.checked = true;
            UncheckGroupLocked(w, static_cast<std::size_t>(index));
        }
        handle = ControlHandle(w, index);
    }
    SendToProc(w, kMsgCommand, CommandParam(static_cast<unsigned>(id), kButtonClicked), handle);
}

void EndNow(ModelWindow* w, intptr_t result) {
    ModelWindow* owner = nullptr;
    bool focusInside;
    bool wasActive;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        // Only the first end takes effect beyond the result: a destroy
        // handler that ends its dialog again is harmless.
        w->result = result;
        if (w->ended) {
            return;
        }
        w->ended = true;
        owner = LiveLocked(w->ownerWindow);
        if (owner != nullptr && w->disabledOwner) {
            owner->enabled = true;
            w->disabledOwner = false;
        }
        focusInside = SelfLocked().focusWindow == w;
        wasActive = w->activated;
    }
    // EndDialog first re-enables the owner, moves the focus out of the dialog
    // and activates the owner, which gives the focus back to its control.
    if (focusInside) {
        MoveFocus(nullptr, -1, false);
    }
    if (owner != nullptr && wasActive) {
        RestoreFocus(owner);
    }
}

void DestroyNow(ModelWindow* w) {
    bool focusInside;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr || w->destroying) {
            return;
        }
        w->destroying = true;
        focusInside = SelfLocked().focusWindow == w;
    }
    // The window stops being active before it is told it is destroyed.
    if (focusInside) {
        MoveFocus(nullptr, -1, false);
    }
    SendToProc(w, kMsgDestroy, 0, 0);
    std::lock_guard lock(Lock());
    w->alive = false;
    ThreadState& self = SelfLocked();
    if (self.focusWindow == w) {
        self.focusWindow = nullptr;
        self.focusIndex = -1;
    }
    if (w->disabledOwner) {
        if (ModelWindow* owner = LiveLocked(w->ownerWindow)) {
            owner->enabled = true;
        }
        w->disabledOwner = false;
    }
}

ModelWindow* CreateDialogWindow(int templateId, DialogProc proc, Window owner, bool modal) {
    const DialogLayout* layout = FindDialogLayout(templateId);
    if (layout == nullptr || proc == nullptr) {
        return nullptr;
    }
    auto w = std::make_unique<ModelWindow>();
    w->templateId = templateId;
    w->proc = proc;
    w->owner = std::this_thread::get_id();
    w->title = layout->caption != nullptr ? layout->caption : "";
    w->modal = modal;
    for (const ControlLayout& c : layout->controls) {
        ModelControl control;
        control.id = c.id;
        control.kind = c.kind;
        control.style = c.style;
        control.groupStart = c.groupStart;
        control.enabled = (c.style & kWsDisabled) == 0;
        control.visible = (c.style & kWsVisible) != 0;
        if (c.kind != ControlKind::Edit && c.kind != ControlKind::ComboBox && c.text != nullptr) {
            control.text = c.text;
        }
        w->controls.push_back(std::move(control));
    }
    std::lock_guard lock(Lock());
    ModelWindow* ownerWindow = LiveLocked(owner);
    w->ownerWindow = ownerWindow;
    if (modal && ownerWindow != nullptr && ownerWindow->enabled) {
        ownerWindow->enabled = false;
        w->disabledOwner = true;
    }
    S().windows.push_back(std::move(w));
    return S().windows.back().get();
}

// The initialise message; a nonzero answer asks for the focus on the first tab stop.
void Initialise(ModelWindow* w) {
    intptr_t answer = SendToProc(w, kMsgInitDialog, 0, 0);
    if (answer != 0) {
        int target;
        {
            std::lock_guard lock(Lock());
            target = LiveLocked(w) != nullptr ? FirstTabStopLocked(w) : -1;
        }
        if (target >= 0) {
            MoveFocus(w, target, false);
        }
    }
}

std::size_t Utf16Units(std::string_view text) {
    std::size_t units = 0;
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        if ((b & 0xC0u) != 0x80u) {
            units += b >= 0xF0u ? 2 : 1;
        }
    }
    return units;
}

// The longest prefix of whole characters that takes at most units UTF-16
// units; *used gets the units it takes.
std::size_t PrefixWithin(std::string_view text, std::size_t units, std::size_t* used) {
    *used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t need = static_cast<unsigned char>(text[i]) >= 0xF0u ? 2 : 1;
        if (*used + need > units) {
            break;
        }
        *used += need;
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u) {
            ++i;
        }
    }
    return i;
}

// The byte offset in text of a position in UTF-16 units (within its length).
std::size_t ByteOffset(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    return PrefixWithin(text, units, &used);
}

// EM_REPLACESEL: the selection gives way to as much of text as the limit
// leaves room for, and the caret stands after it.
void ReplaceSelectionLocked(ModelControl* c, std::string_view text) {
    std::size_t start = std::min(c->selStart, c->selEnd);
    std::size_t end = std::max(c->selStart, c->selEnd);
    std::size_t kept = c->units - (end - start);
    std::size_t added = 0;
    std::size_t fit = PrefixWithin(text, c->limit > kept ? c->limit - kept : 0, &added);
    // The caret at the end (every append) needs no walk through the text.
    std::size_t from = start == c->units ? c->text.size() : ByteOffset(c->text, start);
    std::size_t to = end == c->units ? c->text.size() : ByteOffset(c->text, end);
    c->text.replace(from, to - from, text.substr(0, fit));
    c->units = kept + added;
    c->selStart = c->selEnd = start + added;
}

// Copies text into buffer, terminated, cut at a character boundary.
void CopyText(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::size_t n = std::min(text.size(), size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
        --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string FolderKey(const char* path) {
    std::string key = Lowercase(path != nullptr ? path : "");
    while (key.size() > 1 && key.back() == '\\') {
        key.pop_back();
    }
    return key;
}

bool FolderText(bool State::*has, std::string State::*path, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return false;
    }
    buffer[0] = '\0';
    std::lock_guard lock(Lock());
    const std::string& text = S().*path;
    // A path cut short names another folder: report it as unavailable instead.
    if (!(S().*has) || text.size() >= size) {
        return false;
    }
    CopyText(text, buffer, size);
    return true;
}

bool IsComNumber(unsigned number) { return number >= 1 && number <= kModelComDbNumbers; }

// Runs work on a control of the given kind, on its window's owner thread and
// under the model's lock; does nothing when the control is missing.
template <class Work>
void WithControl(Window dialog, int id, ControlKind kind, Work work) {
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id, kind)) {
            work(c);
        }
    });
}

}  // namespace

// ---- list box ----

int ListAddRow(Window dialog, int id, const char* text) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) {
        c->rows.emplace_back(text != nullptr ? text : "");
        row = static_cast<int>(c->rows.size()) - 1;
    });
    return row;
}

void ListEmpty(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) {
        c->rows.clear();
        c->selection = -1;
    });
}

void ListSelectRow(Window dialog, int id, int row) {
    WithControl(dialog, id, ControlKind::ListBox,
                [&](ModelControl* c) { c->selection = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1; });
}

int ListGetSelection(Window dialog, int id) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) { row = c->selection; });
    return row;
}

int ListGetCount(Window dialog, int id) {
    int count = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) { count = static_cast<int>(c->rows.size()); });
    return count;
}

// ---- combo box ----
// The edit field shows the selected row, and nothing without a selection.

int ComboAddRow(Window dialog, int id, const char* text) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->rows.emplace_back(text != nullptr ? text : "");
        row = static_cast<int>(c->rows.size()) - 1;
    });
    return row;
}

void ComboEmpty(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->rows.clear();
        c->selection = -1;
        c->text.clear();
    });
}

void ComboSelectRow(Window dialog, int id, int row) {
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->selection = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1;
        c->text = c->selection >= 0 ? c->rows[static_cast<std::size_t>(c->selection)] : std::string();
    });
}

int ComboGetSelection(Window dialog, int id) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) { row = c->selection; });
    return row;
}

int ComboGetCount(Window dialog, int id) {
    int count = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) { count = static_cast<int>(c->rows.size()); });
    return count;
}

// ---- buttons and enabling ----

void ClickButton(Window dialog, int id) {
    OnOwner(dialog, [&] { ClickNow(dialog, id); });
}

void PostButtonClick(Window dialog, int id) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(dialog)) {
        ThreadLocked(w->owner).posted.push_back(PostedClick{w, id});
        Wake().notify_all();
    }
}

bool IsButtonChecked(Window dialog, int id) {
    bool checked = false;
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            checked = c->checked;
        }
    });
    return checked;
}

// BM_SETCHECK; checking an auto radio button unchecks the rest of its group
// as a click does (Common Controls 6). Push buttons have no checked state.
void SetButtonChecked(Window dialog, int id, bool checked) {
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        ModelWindow* w = LiveLocked(dialog);
        int index = w != nullptr ? IndexLocked(w, id) : -1;
        if (index < 0) {
            return;
        }
        ModelControl& c = w->controls[static_cast<std::size_t>(index)];
        if (c.kind == ControlKind::AutoRadio || c.kind == ControlKind::AutoCheck) {
            c.checked = checked;
        }
        if (c.kind == ControlKind::AutoRadio && checked) {
            UncheckGroupLocked(w, static_cast<std::size_t>(index));
        }
    });
}

// Disabling the control that has the focus takes the focus away from it
// (to no control), after it is disabled.
void EnableControl(Window dialog, int id, bool enable) {
    OnOwner(dialog, [&] {
        bool loseFocus;
        {
            std::lock_guard lock(Lock());
            ModelWindow* w = LiveLocked(dialog);
            int index = w != nullptr ? IndexLocked(w, id) : -1;
            if (index < 0) {
                return;
            }
            w->controls[static_cast<std::size_t>(index)].enabled = enable;
            const ThreadState& self = SelfLocked();
            loseFocus = !enable && self.focusWindow == w && self.focusIndex == index;
        }
        if (loseFocus) {
            MoveFocus(nullptr, -1, false);
        }
    });
}

bool IsControlEnabled(Window dialog, int id) {
    bool enabled = false;
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            enabled = c->enabled;
        }
    });
    return enabled;
}

// ---- edit, progress bar, status bar ----

// The caret moved to the end and the text put there, in one step on the
// owner thread: a selection the user makes meanwhile cannot come between
// the two, so a line from a worker never lands inside the text.
void EditAppendText(Window dialog, int id, const char* text) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) {
        c->selStart = c->selEnd = c->units;
        ReplaceSelectionLocked(c, text != nullptr ? text : "");
    });
}

void EditRaiseLimit(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) { c->limit = kEditMaximumLimit; });
}

// WM_SETTEXT: any control's text, not cut by an edit control's limit; the
// caret goes to the start.
void EditSetText(Window dialog, int id, const char* text) {
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            c->text = text != nullptr ? text : "";
            c->units = Utf16Units(c->text);
            c->selStart = c->selEnd = 0;
        }
    });
}

// The bar keeps its position within its range, as the control does.
void ProgressSetRange(Window dialog, int id, int maximum) {
    WithControl(dialog, id, ControlKind::Progress, [&](ModelControl* c) {
        c->rangeMax = maximum;
        c->position = std::clamp(c->position, 0, std::max(0, maximum));
    });
}

void ProgressSetPos(Window dialog, int id, int position) {
    WithControl(dialog, id, ControlKind::Progress,
                [&](ModelControl* c) { c->position = std::clamp(position, 0, std::max(0, c->rangeMax)); });
}

void StatusSetText(Window dialog, int id, const char* text) {
    WithControl(dialog, id, ControlKind::StatusBar, [&](ModelControl* c) { c->text = text != nullptr ? text : ""; });
}

// ---- windows and dialogs ----

// The model's controls need no class registration.
void InitCommonControlClasses(unsigned) {}

void SetControlFocus(Window dialog, int id) {
    OnOwner(dialog, [&] {
        ModelWindow* w;
        int index;
        {
            std::lock_guard lock(Lock());
            w = LiveLocked(dialog);
            index = w != nullptr ? IndexLocked(w, id) : -1;
            if (index < 0 || !CanTakeFocusLocked(w, index)) {
                return;
            }
        }
        MoveFocus(w, index, true);
    });
}

void SetWindowTitle(Window window, const char* text) {
    OnOwner(window, [&] {
        std::lock_guard lock(Lock());
        if (ModelWindow* w = LiveLocked(window)) {
            w->title = text != nullptr ? text : "";
        }
    });
}

void SetWindowIcons(Window window, int iconId) {
    OnOwner(window, [&] {
        std::lock_guard lock(Lock());
        if (ModelWindow* w = LiveLocked(window)) {
            w->icon = iconId;
        }
    });
}

// Only the owner thread can destroy a window (DestroyWindow fails on
// another thread's window).
void DestroyDialog(Window dialog) {
    {
        std::lock_guard lock(Lock());
        ModelWindow* w = LiveLocked(dialog);
        if (w == nullptr || w->owner != std::this_thread::get_id()) {
            return;
        }
    }
    DestroyNow(dialog);
}

void PostQuit(int code) {
    std::lock_guard lock(Lock());
    S().quitPosted = true;
    S().quitCode = code;
}

// Creates the dialog owned by the calling thread (disabling its owner), sends
// the initialise message, activates it, and hands it to the driver set for
// its template. With no driver, or when the driver returns without ending
// it, the dialog ends with 2. The result is taken before the destroy message,
// so a destroy handler that ends the dialog again changes nothing; a dialog
// destroyed instead of ended gives 0, as DialogBox does.
intptr_t RunModalDialog(int templateId, Window owner, DialogProc proc) {
    ModelWindow* w = CreateDialogWindow(templateId, proc, owner, true);
    if (w == nullptr) {
        return -1;
    }
    Initialise(w);
    Activate(w);
    Driver driver{nullptr, nullptr};
    bool running;
    {
        std::lock_guard lock(Lock());
        auto found = S().drivers.find(templateId);
        if (found != S().drivers.end()) {
            driver = found->second;
        }
        running = LiveLocked(w) != nullptr && !w->ended;
    }
    // The dialog manager shows a dialog its initialisation did not end.
    if (running) {
        SendToProc(w, kMsgShowWindow, 1, 0);
    }
    if (running && driver.driver != nullptr) {
        driver.driver(w, driver.context);
    }
    intptr_t result = 0;
    bool alive;
    {
        std::lock_guard lock(Lock());
        alive = LiveLocked(w) != nullptr;
        running = alive && !w->ended;
    }
    if (running) {
        EndNow(w, kCommandCancel);
    }
    {
        std::lock_guard lock(Lock());
        alive = LiveLocked(w) != nullptr;
        result = alive ? w->result : 0;
    }
    if (alive) {
        DestroyNow(w);
    }
    return result;
}

void EndModalDialog(Window dialog, intptr_t result) {
    OnOwner(dialog, [&] { EndNow(dialog, result); });
}

intptr_t DefaultCommandResult(Window, unsigned, uintptr_t, intptr_t) { return 0; }

intptr_t SendDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return ModelSendMessage(dialog, message, wParam, lParam);
}

// A timer is due at every pump of its window's thread.
void StartWindowTimer(Window window, unsigned id, unsigned) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(window)) {
        std::vector<Timer>& timers = ThreadLocked(w->owner).timers;
        if (std::none_of(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == w && t.id == id; })) {
            timers.push_back(Timer{w, id});
        }
        Wake().notify_all();
    }
}

void StopWindowTimer(Window window, unsigned id) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(window)) {
        std::erase_if(ThreadLocked(w->owner).timers, [&](const Timer& t) { return t.window == w && t.id == id; });
    }
}

// A message box runs on the calling thread; here it is answered at once from
// the scripted answers, or with its default button.
int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned kind) {
    std::lock_guard lock(Lock());
    State& s = S();
    int answer;
    if (!s.answers.empty()) {
        answer = s.answers.front();
        s.answers.pop_front();
    } else {
        // The buttons of each MB_ type in order, and MB_DEFBUTTONn picks one.
        static constexpr std::array<std::array<int, 3>, 7> kButtons = {{
            {kAnswerOk, 0, 0},
            {kAnswerOk, kAnswerCancel, 0},
            {3, 4, 5},  // abort, retry, ignore
            {kAnswerYes, kAnswerNo, kAnswerCancel},
            {kAnswerYes, kAnswerNo, 0},
            {4, kAnswerCancel, 0},    // retry, cancel
            {kAnswerCancel, 10, 11},  // cancel, try again, continue
        }};
        unsigned type = std::min<unsigned>(kind & 0xFu, 6);
        unsigned pick = std::min<unsigned>((kind >> 8) & 0xFu, 2);
        answer = kButtons[type][pick] != 0 ? kButtons[type][pick] : kButtons[type][0];
        ++s.unscripted;
    }
    s.boxes.push_back(ModelBox{owner, kind, text != nullptr ? text : "", caption != nullptr ? caption : "",
                               std::this_thread::get_id(), answer});
    return answer;
}

void LoadStringText(int id, char* buffer, std::size_t size) {
    const char* text = "";
    switch (id) {
    case IDS_PORTS_HELD:
        text = KESTROVA_TEXT_PORTS_HELD;
        break;
    case IDS_NUMBER_CLAIMED:
        text = KESTROVA_TEXT_NUMBER_CLAIMED;
        break;
    case IDS_NUMBERS_CLAIMED:
        text = KESTROVA_TEXT_NUMBERS_CLAIMED;
        break;
    default:
        break;
    }
    CopyText(text, buffer, size);
}

// ---- kernel services ----

LocalTime GetLocalTimeNow() {
    {
        std::lock_guard lock(Lock());
        if (S().fixedTime) {
            return S().time;
        }
    }
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    return LocalTime{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(milliseconds)};
}

// Kept for the tests; with KESTROVA_DEBUG_STDERR set it also goes to standard
// error, the native stand-in for the debugger output.
void DebugOutput(const char* text) {
    if (text == nullptr) {
        return;
    }
    {
        std::lock_guard lock(Lock());
        S().debugText += text;
    }
    if (std::getenv("KESTROVA_DEBUG_STDERR") != nullptr) {
        std::fputs(text, stderr);
    }
}

unsigned GetLastErrorCode() { return lastError; }

void SetLastErrorCode(unsigned code) { lastError = code; }

void GetErrorText(unsigned code, char* buffer, std::size_t size) {
    const char* text = "";
    switch (code) {
    case 2:
        text = "The system cannot find the file specified.\r\n";
        break;
    case 5:
        text = "Access is denied.\r\n";
        break;
    case 32:
        text = "The process cannot access the file because it is being used by another process.\r\n";
        break;
    default:
        break;
    }
    CopyText(text, buffer, size);
}

unsigned TryOpenPort(const char* devicePath) {
    std::string path = devicePath != nullptr ? devicePath : "";
    unsigned result = kErrorFileNotFound;
    {
        std::lock_guard lock(Lock());
        S().openedPorts.push_back(path);
        auto found = S().portResults.find(Lowercase(path));
        if (found != S().portResults.end()) {
            result = found->second;
        }
    }
    if (result != 0) {
        lastError = result;
    }
    return result;
}

// Recorded, not slept: tests check the pauses without waiting for them.
void SleepMs(unsigned milliseconds) {
    {
        std::lock_guard lock(Lock());
        S().sleeps.push_back(milliseconds);
    }
    std::this_thread::yield();
}

bool StartThread(ThreadRoutine routine, void* argument) {
    {
        std::lock_guard lock(Lock());
        if (S().startFails || routine == nullptr) {
            return false;
        }
        ++S().runningThreads;
        ++S().startedThreads;
    }
    std::thread([routine, argument] {
        routine(argument);
        std::lock_guard lock(Lock());
        --S().runningThreads;
        Wake().notify_all();
    }).detach();
    return true;
}

bool GetWindowsFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasWindowsFolder, &State::windowsFolder, buffer, size);
}

bool GetSystemFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasSystemFolder, &State::systemFolder, buffer, size);
}

bool GetCurrentFolder(char* buffer, std::size_t size) {
    return FolderText(&State::hasCurrentFolder, &State::currentFolder, buffer, size);
}

bool FolderExists(const char* path) {
    std::lock_guard lock(Lock());
    return S().folders.count(FolderKey(path)) != 0;
}

unsigned RunProgram(const char* commandLine) {
    std::lock_guard lock(Lock());
    S().runCommands.emplace_back(commandLine != nullptr ? commandLine : "");
    return S().runResult;
}

// The library's texts are taken as UTF-8 already (the card simulator writes
// them so). Reads at most width bytes, stopping at a NUL.
void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    buffer[0] = '\0';
    if (field == nullptr) {
        return;
    }
    CopyText(std::string_view(field, strnlen(field, width)), buffer, size);
}

bool QueryWow64(bool* isWow64) {
    std::lock_guard lock(Lock());
    if (isWow64 != nullptr) {
        *isWow64 = S().wow64 > 0;
    }
    return S().wow64 >= 0;
}

// The model has no keyboard to translate.
void AttachAccelerators(Window, int) {}

// ---- COM port database ----
// A bitmap of 4096 numbers, COMn at bit n-1, low bit of each byte first.

ComDbHandle InvalidComDb() { return reinterpret_cast<ComDbHandle>(static_cast<intptr_t>(-1)); }

long ComDbOpen(ComDbHandle* handle) {
    std::lock_guard lock(Lock());
    ++S().comDbOpens;
    long failure = S().comDbOpenFailure;
    if (handle != nullptr) {
        *handle = failure != 0 ? InvalidComDb() : ValidComDb();
    }
    return failure;
}

long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size) {
    if (handle != ValidComDb() || bits == nullptr) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    std::size_t copied = std::min<std::size_t>(size, kComDbBytes);
    std::memcpy(bits, S().comDb.data(), copied);
    std::memset(bits + copied, 0, size - copied);
    return 0;
}

// Another program changes a number between two writes of this one.
void RunComDbRivalLocked(unsigned number) {
    if (number == S().comDbRivalTrigger && IsComNumber(S().comDbRivalNumber)) {
        S().comDb[(S().comDbRivalNumber - 1) / 8] ^= static_cast<std::uint8_t>(1u << ((S().comDbRivalNumber - 1) % 8));
        S().comDbRivalTrigger = 0;
    }
}

long ComDbClaim(ComDbHandle handle, unsigned number) {
    if (handle != ValidComDb() || !IsComNumber(number)) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    if (S().comDbWriteFailure != 0) {
        return S().comDbWriteFailure;
    }
    RunComDbRivalLocked(number);
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    if ((byte & bit) != 0) {
        return kErrorSharingViolation;
    }
    byte = static_cast<std::uint8_t>(byte | bit);
    return 0;
}

long ComDbRelease(ComDbHandle handle, unsigned number) {
    if (handle != ValidComDb() || !IsComNumber(number)) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    if (S().comDbWriteFailure != 0) {
        return S().comDbWriteFailure;
    }
    RunComDbRivalLocked(number);
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    byte = static_cast<std::uint8_t>(byte & ~(1u << ((number - 1) % 8)));
    return 0;
}

// ---- device notifications ----

void* RegisterUsbInterfaceNotification(Window window) {
    std::lock_guard lock(Lock());
    ++S().usbRegistrations;
    S().usbWindow = window;
    return &usbToken;
}

void UnregisterDeviceNotificationHandle(void* handle) {
    if (handle == nullptr) {
        return;
    }
    std::lock_guard lock(Lock());
    ++S().usbUnregistrations;
}

// ---- model hooks ----

void ModelReset() {
    std::lock_guard lock(Lock());
    S() = State{};
    lastError = 0;
}

Window ModelOpenDialog(int templateId, DialogProc proc) {
    ModelWindow* w = CreateDialogWindow(templateId, proc, nullptr, false);
    if (w == nullptr) {
        return nullptr;
    }
    Initialise(w);
    // Shown at once, so activated like a modal dialog.
    Activate(w);
    SendToProc(w, kMsgShowWindow, 1, 0);
    return w;
}

bool ModelIsWindow(Window window) {
    std::lock_guard lock(Lock());
    return LiveLocked(window) != nullptr;
}

Window ModelFindDialog(int templateId) {
    std::lock_guard lock(Lock());
    for (auto w = S().windows.rbegin(); w != S().windows.rend(); ++w) {
        if ((*w)->alive && (*w)->templateId == templateId) {
            return w->get();
        }
    }
    return nullptr;
}

intptr_t ModelSendMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    intptr_t result = 0;
    OnOwner(dialog, [&] { result = SendToProc(dialog, message, wParam, lParam); });
    return result;
}

void ModelSetModalDriver(int templateId, ModelDriver driver, void* context) {
    std::lock_guard lock(Lock());
    if (driver == nullptr) {
        S().drivers.erase(templateId);
    } else {
        S().drivers[templateId] = Driver{driver, context};
    }
}

void ModelPump() {
    std::unique_lock lock(Lock());
    ThreadState& self = SelfLocked();
    while (!self.sent.empty()) {
        RunOneSent(lock, self);
    }
    // Clicks posted while these run wait for the next pump, so a click that
    // posts another cannot keep one pump going for ever.
    std::size_t queued = self.posted.size();
    for (std::size_t i = 0; i < queued && !self.posted.empty(); ++i) {
        PostedClick click = self.posted.front();
        self.posted.pop_front();
        lock.unlock();
        ClickNow(click.dialog, click.id);
        lock.lock();
        while (!self.sent.empty()) {
            RunOneSent(lock, self);
        }
    }
    // A destroyed window's timers end with it, as in Win32.
    std::erase_if(self.timers, [](const Timer& t) { return LiveLocked(t.window) == nullptr; });
    std::vector<Timer> due = self.timers;
    for (const Timer& t : due) {
        lock.unlock();
        SendToProc(t.window, kMsgTimer, t.id, 0);
        lock.lock();
        while (!self.sent.empty()) {
            RunOneSent(lock, self);
        }
    }
}

int ModelTimerCount() {
    std::lock_guard lock(Lock());
    std::erase_if(SelfLocked().timers, [](const Timer& t) { return LiveLocked(t.window) == nullptr; });
    return static_cast<int>(SelfLocked().timers.size());
}

bool ModelPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ModelPump();
        if (done(context)) {
            return true;
        }
        std::unique_lock lock(Lock());
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            lock.unlock();
            return done(context);
        }
        ThreadState& self = SelfLocked();
        if (self.sent.empty() && self.posted.empty() && self.timers.empty()) {
            // done may watch state the model does not see, so look again soon.
            Wake().wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(5)));
        }
    }
}

bool ModelListRow(Window dialog, int id, int row, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::ListBox);
    if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return false;
    }
    *text = c->rows[static_cast<std::size_t>(row)];
    return true;
}

bool ModelComboRow(Window dialog, int id, int row, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::ComboBox);
    if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return false;
    }
    *text = c->rows[static_cast<std::size_t>(row)];
    return true;
}

bool ModelControlText(Window dialog, int id, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id);
    if (c == nullptr) {
        return false;
    }
    *text = c->text;
    return true;
}

bool ModelStatusText(Window dialog, int id, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::StatusBar);
    if (c == nullptr) {
        return false;
    }
    *text = c->text;
    return true;
}

bool ModelWindowTitle(Window window, std::string* text) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return false;
    }
    *text = w->title;
    return true;
}

int ModelProgressMax(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Progress);
    return c != nullptr ? c->rangeMax : -1;
}

int ModelProgressPos(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Progress);
    return c != nullptr ? c->position : -1;
}

void ModelSetEditSelection(Window dialog, int id, int start, int end) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) {
        auto place = [c](int position) {
            return position < 0 ? c->units : std::min(static_cast<std::size_t>(position), c->units);
        };
        c->selStart = place(start);
        c->selEnd = place(end);
    });
}

int ModelEditLength(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Edit);
    return c != nullptr ? static_cast<int>(c->units) : -1;
}

unsigned ModelEditLimit(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Edit);
    return c != nullptr ? static_cast<unsigned>(c->limit) : 0;
}

bool ModelHasFocus(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(dialog);
    if (w == nullptr) {
        return false;
    }
    int index = IndexLocked(w, id);
    const ThreadState& owner = ThreadLocked(w->owner);
    return index >= 0 && owner.focusWindow == w && owner.focusIndex == index;
}

int ModelWindowIcon(Window window) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(window);
    return w != nullptr ? w->icon : 0;
}

bool ModelIsDialogEnabled(Window dialog) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(dialog);
    return w != nullptr && w->enabled;
}

void ModelQueueAnswer(int answer) {
    std::lock_guard lock(Lock());
    S().answers.push_back(answer);
}

int ModelBoxCount() {
    std::lock_guard lock(Lock());
    return static_cast<int>(S().boxes.size());
}

ModelBox ModelBoxAt(int index) {
    std::lock_guard lock(Lock());
    if (index < 0 || index >= static_cast<int>(S().boxes.size())) {
        return ModelBox{nullptr, 0, {}, {}, {}, 0};
    }
    return S().boxes[static_cast<std::size_t>(index)];
}

int ModelUnscriptedBoxes() {
    std::lock_guard lock(Lock());
    return S().unscripted;
}

void ModelResetBoxes() {
    std::lock_guard lock(Lock());
    S().boxes.clear();
    S().answers.clear();
    S().unscripted = 0;
}

bool ModelQuitPosted(int* code) {
    std::lock_guard lock(Lock());
    if (code != nullptr) {
        *code = S().quitCode;
    }
    return S().quitPosted;
}

void ModelResetQuit() {
    std::lock_guard lock(Lock());
    S().quitPosted = false;
    S().quitCode = 0;
}

void ModelSetLocalTime(LocalTime time) {
    std::lock_guard lock(Lock());
    S().fixedTime = true;
    S().time = time;
}

std::string ModelDebugText() {
    std::lock_guard lock(Lock());
    return S().debugText;
}

void ModelClearDebugText() {
    std::lock_guard lock(Lock());
    S().debugText.clear();
}

void ModelSetPortResult(const char* devicePath, unsigned error) {
    std::lock_guard lock(Lock());
    S().portResults[Lowercase(devicePath != nullptr ? devicePath : "")] = error;
}

std::vector<std::string> ModelOpenedPorts() {
    std::lock_guard lock(Lock());
    return S().openedPorts;
}

std::vector<unsigned> ModelSleeps() {
    std::lock_guard lock(Lock());
    return S().sleeps;
}

int ModelRunningThreads() {
    std::lock_guard lock(Lock());
    return S().runningThreads;
}

int ModelStartedThreads() {
    std::lock_guard lock(Lock());
    return S().startedThreads;
}

void ModelSetStartThreadFails(bool fails) {
    std::lock_guard lock(Lock());
    S().startFails = fails;
}

void ModelSetWindowsFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasWindowsFolder = path != nullptr;
    S().windowsFolder = path != nullptr ? path : "";
}

void ModelSetSystemFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasSystemFolder = path != nullptr;
    S().systemFolder = path != nullptr ? path : "";
}

void ModelSetCurrentFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().hasCurrentFolder = path != nullptr;
    S().currentFolder = path != nullptr ? path : "";
}

void ModelAddFolder(const char* path) {
    std::lock_guard lock(Lock());
    S().folders.insert(FolderKey(path));
}

void ModelSetRunResult(unsigned result) {
    std::lock_guard lock(Lock());
    S().runResult = result;
}

std::vector<std::string> ModelRunCommands() {
    std::lock_guard lock(Lock());
    return S().runCommands;
}

void ModelSetWow64(int state) {
    std::lock_guard lock(Lock());
    S().wow64 = state;
}

void ModelComDbSetClaimed(unsigned number, bool claimed) {
    if (!IsComNumber(number)) {
        return;
    }
    std::lock_guard lock(Lock());
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    byte = static_cast<std::uint8_t>(claimed ? (byte | bit) : (byte & ~bit));
}

bool ModelComDbIsClaimed(unsigned number) {
    if (!IsComNumber(number)) {
        return false;
    }
    std::lock_guard lock(Lock());
    return (S().comDb[(number - 1) / 8] & (1u << ((number - 1) % 8))) != 0;
}

void ModelComDbFailOpen(long result) {
    std::lock_guard lock(Lock());
    S().comDbOpenFailure = result;
}

void ModelComDbFailWrites(long result) {
    std::lock_guard lock(Lock());
    S().comDbWriteFailure = result;
}

void ModelComDbRival(unsigned trigger, unsigned number) {
    std::lock_guard lock(Lock());
    S().comDbRivalTrigger = trigger;
    S().comDbRivalNumber = number;
}

int ModelComDbOpenCount() {
    std::lock_guard lock(Lock());
    return S().comDbOpens;
}

int ModelUsbRegistrations() {
    std::lock_guard lock(Lock());
    return S().usbRegistrations;
}

int ModelUsbUnregistrations() {
    std::lock_guard lock(Lock());
    return S().usbUnregistrations;
}

Window ModelUsbRegisteredWindow() {
    std::lock_guard lock(Lock());
    return S().usbWindow;
}

// ---- command line, console, files, machine-wide run lock ----

namespace {

// Splits like the system's parser for what tests need: blanks separate,
// double quotes group.
std::vector<std::string> SplitArguments(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false;
    bool any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (any) {
                words.push_back(word);
            }
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

bool RunProgramAndWait(const char* commandLine, unsigned* exitCode) {
    if (RunProgram(commandLine) < 32) {
        return false;
    }
    std::lock_guard lock(Lock());
    *exitCode = S().exitCode;
    return true;
}

void GetProgramArguments(ArgumentList& list) {
    list.count = 0;
    list.overflow = false;
    std::lock_guard lock(Lock());
    for (const std::string& word : SplitArguments(S().arguments)) {
        if (list.count == kMaxArguments || word.size() >= kArgumentSize) {
            list.overflow = true;
            return;
        }
        CopyText(word, list.text[list.count], kArgumentSize);
        ++list.count;
    }
}

bool GetArgumentsText(char* buffer, std::size_t size) {
    std::lock_guard lock(Lock());
    if (size == 0 || S().arguments.size() >= size) {
        return false;
    }
    CopyText(S().arguments, buffer, size);
    return true;
}

void ConsoleWrite(const char* text, bool toError) {
    std::lock_guard lock(Lock());
    (toError ? S().consoleErrors : S().console) += text;
}

bool GetProgramDataFolder(char* buffer, std::size_t size) {
    std::lock_guard lock(Lock());
    if (size == 0 || !S().hasProgramData || S().programData.size() >= size) {
        return false;
    }
    CopyText(S().programData, buffer, size);
    return true;
}

bool CreateFolder(const char* path) {
    ModelAddFolder(path);
    return true;
}

FileRead ReadWholeFile(const char* path, char* buffer, std::size_t size, std::size_t* length) {
    *length = 0;
    std::lock_guard lock(Lock());
    auto found = S().files.find(Lowercase(path));
    if (found == S().files.end()) {
        return FileRead::Missing;
    }
    if (found->second.size() >= size) {
        return FileRead::TooBig;
    }
    std::memcpy(buffer, found->second.data(), found->second.size());
    buffer[found->second.size()] = '\0';
    *length = found->second.size();
    return FileRead::Done;
}

bool SaveFileWhole(const char* path, const char* data, std::size_t length) {
    std::lock_guard lock(Lock());
    if (S().failWrites) {
        return false;
    }
    S().files[Lowercase(path)] = std::string(data, length);
    return true;
}

// The lock is free or held by another process for good: nothing to wait for.
bool AcquireRunLock(unsigned) {
    std::lock_guard lock(Lock());
    if (S().lockHeldElsewhere) {
        return false;
    }
    S().lockOwned = true;
    return true;
}

void ReleaseRunLock() {
    std::lock_guard lock(Lock());
    S().lockOwned = false;
}

Window CreateHiddenDialog(int templateId, DialogProc proc) {
    ModelWindow* w = CreateDialogWindow(templateId, proc, nullptr, false);
    if (w != nullptr) {
        Initialise(w);
    }
    return w;
}

void ModelSetArguments(const char* arguments) {
    std::lock_guard lock(Lock());
    S().arguments = arguments != nullptr ? arguments : "";
}

std::string ModelConsoleText(bool errors) {
    std::lock_guard lock(Lock());
    return errors ? S().consoleErrors : S().console;
}

void ModelSetFile(const char* path, const std::string& contents) {
    std::lock_guard lock(Lock());
    S().files[Lowercase(path)] = contents;
}

bool ModelFile(const char* path, std::string* contents) {
    std::lock_guard lock(Lock());
    auto found = S().files.find(Lowercase(path));
    if (found == S().files.end()) {
        return false;
    }
    *contents = found->second;
    return true;
}

void ModelSetFileWritesFail(bool fail) {
    std::lock_guard lock(Lock());
    S().failWrites = fail;
}

void ModelSetRunLockHeldElsewhere(bool held) {
    std::lock_guard lock(Lock());
    S().lockHeldElsewhere = held;
}

bool ModelRunLockOwned() {
    std::lock_guard lock(Lock());
    return S().lockOwned;
}

void ModelSetProgramExitCode(unsigned code) {
    std::lock_guard lock(Lock());
    S().exitCode = code;
}

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
//
// This header is the model's own: its one state under its one lock, and the
// helpers its files share. Tests use model.h.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/model/model.h"
#include "resources/layout.h"

namespace model {

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
    unsigned appends = 0;  // EditAppendText calls
    int rangeMax = kProgressDefaultMax;
    int position = 0;
};

}  // namespace model

struct ModelWindow {
    int templateId = 0;
    DialogProc proc = nullptr;
    std::thread::id owner;
    std::string title;
    int icon = 0;
    std::vector<model::ModelControl> controls;
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

namespace model {

// A call handed to another thread, waiting there until run.
struct SentCall {
    const std::function<void()>* work;
    bool done;
};

// A posted click (message 0) or a posted message.
struct PostedClick {
    ModelWindow* dialog;
    int id;
    unsigned message;
    uintptr_t wParam;
    intptr_t lParam;
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

// Everything the model keeps, guarded by Lock(); ModelReset puts all of it
// back as it starts here.
struct State {
    std::vector<std::unique_ptr<ModelWindow>> windows;
    std::map<std::thread::id, ThreadState> threads;
    std::map<int, Driver> drivers;

    std::deque<ModelBox> boxes;
    std::deque<int> answers;
    std::deque<std::string> filePaths;  // the file dialogs' answers; none left: cancelled
    std::vector<bool> fileDialogs;      // each shown: true for a save dialog
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
    unsigned comDbNumbers = 256;  // the database's size; claims past it grow it in steps of 1024
    long comDbOpenFailure = 0;
    long comDbWriteFailure = 0;
    unsigned comDbRivalTrigger = 0;  // a claim or release of this number...
    unsigned comDbRivalNumber = 0;   // ...lets another program flip this one first
    int comDbOpens = 0;

    std::vector<SystemPort> serialMap;
    std::vector<SystemPort> dosPorts;
    std::vector<SystemPort> portsClass;

    int usbRegistrations = 0;
    int usbUnregistrations = 0;
    Window usbWindow = nullptr;

    // The command line, the console, files and the machine-wide run lock.
    std::string arguments;
    std::string console;
    std::string consoleErrors;
    std::string standardInput;
    bool consoleInteractive = false;
    bool outputRedirected = false;             // standard output to a file, standard error on the console
    std::map<std::string, std::string> files;  // by lowercased path
    std::map<std::string, std::pair<std::size_t, unsigned>> writes;  // bytes and flushes by path
    bool failWrites = false;
    int writesLeft = -1;  // writes that work before failWrites is set; -1: no limit
    bool lockHeldElsewhere = false;
    bool lockOwned = false;
    bool hasProgramData = true;
    std::string programData = "C:\\ProgramData";
    unsigned programDataLookups = 0;
    unsigned exitCode = 0;
};

// The one state, its lock, and the condition the threads waiting under the
// lock sleep on (model_threads.cpp).
State& S();
std::mutex& Lock();
std::condition_variable& Wake();
// The calling thread's last error code.
extern thread_local unsigned lastError;

// Text helpers (model_threads.cpp).
std::string Lowercase(std::string_view text);
void CopyText(std::string_view text, char* buffer, std::size_t size);

// Windows, with the lock held (model_threads.cpp).
ModelWindow* LiveLocked(Window window);
int IndexLocked(const ModelWindow* w, int id);
ModelControl* ControlLocked(Window window, int id);
ModelControl* ControlLocked(Window window, int id, ControlKind kind);
ThreadState& ThreadLocked(std::thread::id id);
ThreadState& SelfLocked();

// Calling dialog procedures and running on the owner thread (model_threads.cpp).
intptr_t ControlHandle(ModelWindow* w, int index);
intptr_t SendToProc(ModelWindow* w, unsigned message, uintptr_t wParam, intptr_t lParam);
void RunOneSent(std::unique_lock<std::mutex>& lock, ThreadState& self);
void OnOwner(Window window, const std::function<void()>& work);

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

// Focus (model_focus.cpp).
int FirstTabStopLocked(const ModelWindow* w);
void MoveFocus(ModelWindow* window, int index, bool refocusCombo);
bool CanTakeFocusLocked(const ModelWindow* w, int index);
void Activate(ModelWindow* w);
void RestoreFocus(ModelWindow* w);

// Controls (model_controls.cpp).
void ClickNow(Window dialog, int id);

// Dialogs (model_dialogs.cpp).
void EndNow(ModelWindow* w, intptr_t result);
void DestroyNow(ModelWindow* w);
ModelWindow* CreateDialogWindow(int templateId, DialogProc proc, Window owner, bool modal);
void Initialise(ModelWindow* w);

}  // namespace model

// Test hooks of the in-memory platform (native builds only): reset, the
// message pump, scripted message boxes and modal drivers, reading controls
// back, and the kernel, COM database and notification stand-ins. The portable
// tests reach most of this through tests/support/harness.h; tests that only
// run natively may use it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

// Forgets every window, queue, message box, scripted answer, modal driver,
// kernel setting, COM database bit and notification count, and the
// arguments, console output, files, run lock and exit code. Call it between
// tests, with no worker thread still running.
void ModelReset();

// ---- dialogs ----

// Creates a modeless dialog owned by the calling thread, sends it the
// initialise message, activates it (see model_focus.cpp for focus) and
// shows it (kMsgShowWindow).
// nullptr for an unknown template.
Window ModelOpenDialog(int templateId, DialogProc proc);
bool ModelIsWindow(Window window);
// The live dialog of this template created last, or nullptr.
Window ModelFindDialog(int templateId);
// Sends a message to a dialog's procedure on its owner thread (like
// SendMessage); 0 when the window does not exist.
intptr_t ModelSendMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam);

using ModelDriver = void (*)(Window dialog, void* context);
void ModelSetModalDriver(int templateId, ModelDriver driver, void* context);

// Runs the calling thread's pending cross-thread calls, then the posted
// clicks that were queued when it started, then each of its timers once.
void ModelPump();
// The calling thread's running timers.
int ModelTimerCount();
// Pumps until done(context) or timeoutMs passed; returns done(context).
bool ModelPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs);

// ---- reading controls back ----
// Texts as stored (UTF-8). Each returns false when the control (or row) is
// missing or the window is gone.
bool ModelListRow(Window dialog, int id, int row, std::string* text);
bool ModelComboRow(Window dialog, int id, int row, std::string* text);
bool ModelControlText(Window dialog, int id, std::string* text);  // window text; an edit's text
bool ModelStatusText(Window dialog, int id, std::string* text);
bool ModelWindowTitle(Window window, std::string* text);
int ModelProgressMax(Window dialog, int id);  // -1 when missing
int ModelProgressPos(Window dialog, int id);  // -1 when missing
// The edit control's text limit in UTF-16 units, 0 when missing.
unsigned ModelEditLimit(Window dialog, int id);
// How many appends the edit control took, each one costly on a long log.
unsigned ModelEditAppends(Window dialog, int id);
// The edit control's text length in UTF-16 units (-1 when missing), kept by
// the control, so it costs nothing to read however long the log grows.
int ModelEditLength(Window dialog, int id);
// Places the selection of an edit control as a user's click or drag would,
// on the owner thread (EM_SETSEL): positions in UTF-16 units, a negative one
// or one past the end meaning the end; start == end is a caret. Lets a test
// move the caret while another thread appends.
void ModelSetEditSelection(Window dialog, int id, int start, int end);
bool ModelHasFocus(Window dialog, int id);
int ModelWindowIcon(Window window);        // 0 when none was set
bool ModelIsDialogEnabled(Window dialog);  // false while a modal dialog it owns runs

// ---- message boxes ----
struct ModelBox {
    Window owner;
    unsigned kind;
    std::string text;
    std::string caption;
    std::thread::id thread;  // the thread that showed it
    int answer;
};
void ModelQueueAnswer(int answer);
// The path the next file dialog answers with (none queued: cancelled), and
// the dialogs shown since the reset (true: save).
void ModelQueueFilePath(const char* path);
std::vector<bool> ModelFileDialogs();
int ModelBoxCount();
ModelBox ModelBoxAt(int index);  // an empty box for a bad index
int ModelUnscriptedBoxes();
void ModelResetBoxes();

bool ModelQuitPosted(int* code);
void ModelResetQuit();

// ---- kernel ----
void ModelSetLocalTime(LocalTime time);  // fixed from now on
std::string ModelDebugText();            // everything DebugOutput received since the last clear
void ModelClearDebugText();
// The result TryOpenPort reports for a device path: 0 opens, anything else
// is the error. Paths never set report 2 (not found), like a port that is not
// there.
void ModelSetPortResult(const char* devicePath, unsigned error);
std::vector<std::string> ModelOpenedPorts();  // every TryOpenPort path, in order
std::vector<unsigned> ModelSleeps();          // every SleepMs duration, in order
int ModelRunningThreads();                    // started by StartThread and not yet returned
int ModelStartedThreads();
void ModelSetStartThreadFails(bool fails);
void ModelSetWindowsFolder(const char* path);      // nullptr: the call fails
void ModelSetProgramDataFolder(const char* path);  // nullptr: the call fails
unsigned ModelProgramDataLookups();                // since the reset
void ModelSetSystemFolder(const char* path);
void ModelSetCurrentFolder(const char* path);
// FolderExists compares without regard to case. The default Windows, system
// and current folders exist from the start; nothing else does until added.
void ModelAddFolder(const char* path);
void ModelSetRunResult(unsigned result);
std::vector<std::string> ModelRunCommands();
// QueryWow64: 1 runs under the 32-bit emulation of 64-bit Windows, 0 (the
// default) does not, -1 the system has no IsWow64Process.
void ModelSetWow64(int state);

// ---- COM port database ----
constexpr inline unsigned kModelComDbNumbers = kMaxComDbNumbers;
// Claiming a number past the database's end grows it (256 numbers at the
// start) in steps of 1024, as a claim does.
void ModelComDbSetClaimed(unsigned number, bool claimed);
// The database's size in numbers, as ComDbGetSize reports it; the bits past
// it are not reported.
void ModelComDbSetSize(unsigned numbers);
unsigned ModelComDbSize();
bool ModelComDbIsClaimed(unsigned number);
// A nonzero result makes every ComDbOpen fail with it (the handle is left
// invalid); 0 lets them succeed again.
void ModelComDbFailOpen(long result);
// A nonzero result makes every claim and release fail with it, changing
// nothing; 0 lets them work again.
void ModelComDbFailWrites(long result);
// When the program next writes number trigger, another program first flips
// number (claims it when free, releases it when claimed).
void ModelComDbRival(unsigned trigger, unsigned number);
int ModelComDbOpenCount();

// ---- serial ports the system knows ----
// A value of the serial device map: device "\\Device\\Serial6", data "COM7".
void ModelAddSerialMapValue(const char* device, const char* portName);
// A DOS device name ("COM7") and what it stands for.
void ModelAddDosPortName(const char* name, const char* target);
void ModelAddPortsClassDevice(const char* instance, const char* portName, bool present);

// ---- device notifications ----
int ModelUsbRegistrations();
int ModelUsbUnregistrations();
Window ModelUsbRegisteredWindow();  // of the last registration

// ---- command line, console, files, machine-wide run lock ----
// The command line after the program's name (blanks separate, quotes group).
void ModelSetArguments(const char* arguments);
std::string ModelConsoleText(bool errors);  // standard output, or standard error
void ModelSetStandardInput(const std::string& text);
// Whether the console is one someone reads (else redirected); not at first.
void ModelSetConsoleInteractive(bool interactive);
// Standard output to a file from now on; standard error stays where it was.
void ModelRedirectStandardOutput();
// Files by path, compared without regard to case.
void ModelSetFile(const char* path, const std::string& contents);
bool ModelFile(const char* path, std::string* contents);
void ModelSetFileWritesFail(bool fail);
// The next writes (whole files and appends) work, then every one fails.
void ModelFailFileWritesAfter(int writes);
// What was written to a file since the reset: bytes, and writes flushed.
void ModelFileWrites(const char* path, std::size_t* bytes, unsigned* flushes);
// Another process holds the run lock: every acquisition fails at once.
void ModelSetRunLockHeldElsewhere(bool held);
bool ModelRunLockOwned();
// What RunProgramAndWait reports as the started program's exit code.
void ModelSetProgramExitCode(unsigned code);

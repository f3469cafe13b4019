// The seam between the program's logic and the system: window operations
// addressed by dialog and control id, the kernel services the program uses,
// and the COM port database. Two implementations exist: platform/win32 (the
// real calls) and platform/model (in-memory controls for native tests).
//
// Every text crossing this seam is UTF-8. The Win32 side converts to UTF-16
// and uses the Unicode window functions, so the program's Chinese texts read
// right whatever the system's ANSI code page is. Texts that come from the
// device-manager library are in the ANSI code page and go through
// LibraryTextToUtf8 first.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
using Window = HWND;
#define KESTROVA_CALLBACK CALLBACK
#else
struct ModelWindow;
using Window = ModelWindow*;
#define KESTROVA_CALLBACK
#endif

using DialogProc = intptr_t(KESTROVA_CALLBACK*)(Window, unsigned, uintptr_t, intptr_t);
using ThreadRoutine = unsigned(KESTROVA_CALLBACK*)(void*);

// Window messages and notification codes, with the platform's values.
enum : unsigned {
    kMsgDestroy = 0x0002,
    kMsgShowWindow = 0x0018,
    kMsgInitDialog = 0x0110,
    kMsgCommand = 0x0111,
    kMsgTimer = 0x0113,
    kMsgDeviceChange = 0x0219,
};
enum : unsigned {
    kButtonClicked = 0,   // BN_CLICKED
    kListSelChange = 1,   // LBN_SELCHANGE
    kListSelCancel = 3,   // LBN_SELCANCEL
    kComboSelChange = 1,  // CBN_SELCHANGE
    kComboSetFocus = 3,   // CBN_SETFOCUS
    kComboKillFocus = 4,  // CBN_KILLFOCUS
};
enum : unsigned {
    kDeviceArrival = 0x8000,         // DBT_DEVICEARRIVAL
    kDeviceRemoveComplete = 0x8004,  // DBT_DEVICEREMOVECOMPLETE
    kDeviceTypeInterface = 5,        // DBT_DEVTYP_DEVICEINTERFACE
};

// Message box kinds and answers, with the platform's values.
enum : unsigned {
    kBoxInfoOk = 0x40,           // MB_ICONINFORMATION | MB_OK
    kBoxInfoYesNo = 0x44,        // MB_ICONINFORMATION | MB_YESNO
    kBoxWarningOkCancel = 0x31,  // MB_ICONWARNING | MB_OKCANCEL
    kBoxWarningOk = 0x30,        // MB_ICONWARNING | MB_OK
};
enum : int { kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };
// Command ids of the dialog manager: OK/Enter and Cancel/Esc/close box.
enum : unsigned { kCommandOk = 1, kCommandCancel = 2 };

constexpr inline int kNoRow = -1;

constexpr inline uintptr_t CommandParam(unsigned id, unsigned code) {
    return static_cast<uintptr_t>((code & 0xFFFFu) << 16 | (id & 0xFFFFu));
}
constexpr inline unsigned CommandId(uintptr_t wParam) { return static_cast<unsigned>(wParam & 0xFFFFu); }
constexpr inline unsigned CommandCode(uintptr_t wParam) { return static_cast<unsigned>((wParam >> 16) & 0xFFFFu); }

// ---- list box ----
// A refill runs from ListEmpty to the ListSelectRow that ends it; the list is
// not drawn in between, so every refill ends with ListSelectRow.
int ListAddRow(Window dialog, int id, const char* text);
void ListEmpty(Window dialog, int id);
void ListSelectRow(Window dialog, int id, int row);  // past the end: no selection
int ListGetSelection(Window dialog, int id);         // -1 for none
int ListGetCount(Window dialog, int id);

// ---- combo box ----
int ComboAddRow(Window dialog, int id, const char* text);
void ComboEmpty(Window dialog, int id);
void ComboSelectRow(Window dialog, int id, int row);  // -1 or past the end clears
int ComboGetSelection(Window dialog, int id);
int ComboGetCount(Window dialog, int id);

// ---- buttons and enabling ----
void ClickButton(Window dialog, int id);      // synchronous: handled before it returns
void PostButtonClick(Window dialog, int id);  // runs when the message loop reaches it
bool IsButtonChecked(Window dialog, int id);
void SetButtonChecked(Window dialog, int id, bool checked);
void EnableControl(Window dialog, int id, bool enable);
bool IsControlEnabled(Window dialog, int id);

// ---- edit, progress bar, status bar ----
// On the dialog's own thread: it takes several messages on Win32, so another
// thread sends the dialog a message whose handling appends (SendDialogMessage).
void EditAppendText(Window dialog, int id, const char* text);
void EditRaiseLimit(Window dialog, int id);
void EditSetText(Window dialog, int id, const char* text);
void ProgressSetRange(Window dialog, int id, int maximum);
void ProgressSetPos(Window dialog, int id, int position);
void StatusSetText(Window dialog, int id, const char* text);

// ---- windows and dialogs ----
// Registers the common control classes of the given set (InitCommonControlsEx).
void InitCommonControlClasses(unsigned classSet);
void SetControlFocus(Window dialog, int id);
void SetWindowTitle(Window window, const char* text);
void SetWindowIcons(Window window, int iconId);
void DestroyDialog(Window dialog);
void PostQuit(int code);
intptr_t RunModalDialog(int templateId, Window owner, DialogProc proc);
void EndModalDialog(Window dialog, intptr_t result);
// Sends a message to a dialog's procedure and returns when the dialog's own
// thread has handled it (SendMessage): one step on that thread.
intptr_t SendDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam);
// Queues a message for the dialog's own thread and returns at once
// (PostMessage); false when it could not be queued.
bool PostDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam);
// A timer of a window (SetTimer): its procedure gets kMsgTimer with the id
// in wParam about every ms milliseconds, when its thread's message loop has
// no sent, posted or input message and nothing to draw.
void StartWindowTimer(Window window, unsigned id, unsigned ms);
void StopWindowTimer(Window window, unsigned id);
intptr_t DefaultCommandResult(Window window, unsigned message, uintptr_t wParam, intptr_t lParam);
int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned kind);
// The system's dialog to open a JSON file (save: to save one), the chosen
// path in UTF-8; false when cancelled or the path does not fit.
bool AskFilePath(Window owner, bool save, char* path, std::size_t size);
// A string table entry as UTF-8; empty text when the entry is missing.
void LoadStringText(int id, char* buffer, std::size_t size);

// ---- kernel services ----
struct LocalTime {
    int hour;
    int minute;
    int second;
    int milliseconds;
};
LocalTime GetLocalTimeNow();
void DebugOutput(const char* text);
unsigned GetLastErrorCode();
void SetLastErrorCode(unsigned code);
// The system's text for an error code (empty when it has none), at most size-1 bytes.
void GetErrorText(unsigned code, char* buffer, std::size_t size);
// Opens a port by device path for reading, unshared, existing only, and closes
// it at once. Returns 0 when it opened, else the error code (also left as the
// thread's last error).
unsigned TryOpenPort(const char* devicePath);
void SleepMs(unsigned milliseconds);
bool StartThread(ThreadRoutine routine, void* argument);  // the handle is closed at once
bool GetWindowsFolder(char* buffer, std::size_t size);
bool GetSystemFolder(char* buffer, std::size_t size);
// Room for any path Windows can hold (32767 UTF-16 units) as UTF-8.
constexpr inline std::size_t kLongPathSize = 3 * 32767 + 1;
bool GetCurrentFolder(char* buffer, std::size_t size);
bool FolderExists(const char* path);
// Starts a command line (a quoted program path, then its arguments) through
// the wide process functions and does not wait for it. Keeps WinExec's
// convention: 33 when it started, a value below 32 when it did not.
unsigned RunProgram(const char* commandLine);
// Starts a command line like RunProgram and waits for it to end. false when
// it did not start; else its exit code is left in exitCode.
bool RunProgramAndWait(const char* commandLine, unsigned* exitCode);
// Converts a text field of the device-manager library (ANSI code page, not
// necessarily terminated within width) to UTF-8, truncated to fit.
void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size);

// Whether this process runs under the 32-bit emulation of 64-bit Windows,
// through IsWow64Process looked up at run time. false when the system has no
// such function (the check is skipped then).
bool QueryWow64(bool* isWow64);
// Runs menu accelerators for the dialog inside its modal message loop.
void AttachAccelerators(Window dialog, int acceleratorsId);

// ---- command line, console, files, machine-wide run lock ----
constexpr inline int kMaxArguments = 32;
constexpr inline std::size_t kArgumentSize = 512;
struct ArgumentList {
    int count;
    bool overflow;  // more arguments than fit, or one longer than its room
    char text[kMaxArguments][kArgumentSize];
};
// The program's arguments after its own name, as UTF-8.
void GetProgramArguments(ArgumentList& list);
// The command line after the program's own name, as typed (for handing it on
// whole); false when it does not fit.
bool GetArgumentsText(char* buffer, std::size_t size);
// Writes UTF-8 text to the console the program was started from, or to the
// standard output (toError: standard error) it was given.
void ConsoleWrite(const char* text, bool toError);
// Whether ConsoleWrite's text (toError: for standard error) reaches a console
// someone reads, not a file or a pipe.
bool ConsoleIsInteractive(bool toError);
// The machine's program-data folder (C:\ProgramData).
bool GetProgramDataFolder(char* buffer, std::size_t size);
// Creates the folder when missing; true when it exists afterwards.
bool CreateFolder(const char* path);
enum class FileRead { Done, Missing, TooBig, Failed };
// Reads a whole file into buffer, terminated; length without the terminator.
FileRead ReadWholeFile(const char* path, char* buffer, std::size_t size, std::size_t* length);
// Standard input to its end, terminated; TooBig when it does not fit.
FileRead ReadStandardInput(char* buffer, std::size_t size, std::size_t* length);
// Writes a new file beside path, flushes it to disk and puts it in path's
// place in one step, so path always holds either the old or the new text.
bool SaveFileWhole(const char* path, const char* data, std::size_t length);
// Appends to an existing file, flushed to disk when flush is set.
bool AppendToFile(const char* path, const char* data, std::size_t length, bool flush);
// A lock held by one run on the whole machine at a time (a named mutex),
// across processes and sessions. Waits at most waitMs for it; false when
// another run kept it. Taken and released on the same thread.
bool AcquireRunLock(unsigned waitMs);
void ReleaseRunLock();

// ---- COM port database ----
// The database holds 256 numbers at first; Windows grows it in steps of
// 1024 up to this many.
constexpr inline unsigned kMaxComDbNumbers = 4096;
using ComDbHandle = void*;
ComDbHandle InvalidComDb();
long ComDbOpen(ComDbHandle* handle);
// How many numbers the database holds (asked with no buffer).
long ComDbGetSize(ComDbHandle handle, unsigned* numbers);
long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size);
long ComDbClaim(ComDbHandle handle, unsigned number);
long ComDbRelease(ComDbHandle handle, unsigned number);

// ---- serial ports the system knows ----
// Names as the system gives them, UTF-8, cut to fit and terminated; nothing
// is parsed here.
constexpr inline std::size_t kDeviceNameSize = 128;
constexpr inline std::size_t kPortNameSize = 32;
struct SystemPort {
    char device[kDeviceNameSize];  // the device or device instance the name belongs to
    char portName[kPortNameSize];
    bool present;  // false: a device record of a device not there now
};
// The serial device map (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM): a value per
// present port, its name the device ("\Device\Serial0"), its data the port
// name. Returns how many were read, at most capacity; data that is no text
// is left out.
unsigned ReadSerialDeviceMap(SystemPort* ports, unsigned capacity);
// The DOS device names of ports ("COM7" and what it stands for,
// QueryDosDevice), at most capacity.
unsigned ReadDosPortNames(SystemPort* ports, unsigned capacity);
// The devices of the Ports class, present or not, with the PortName of
// their device parameters (SetupAPI); those without one are left out.
unsigned ReadPortsClassDevices(SystemPort* ports, unsigned capacity);

// ---- device notifications ----
// Registers the window for USB device interface arrivals and removals.
void* RegisterUsbInterfaceNotification(Window window);
void UnregisterDeviceNotificationHandle(void* handle);

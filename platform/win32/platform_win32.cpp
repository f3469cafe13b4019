// The platform seam over the real Win32 calls. Texts arrive as UTF-8 and go
// to the Unicode window functions through bounded stack buffers; nothing here
// allocates.
#include "platform/platform.h"

#include <commctrl.h>
#include <dbt.h>
#include <ddk/msports.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <iterator>

namespace {

// The biggest texts the program shows: the rename result report and the log's
// raw text are 10240 bytes, the usage summary 8192. Every UTF-8 text of
// 10239 bytes fits in 10240 UTF-16 units.
constexpr int kTextUnits = 10240;
constexpr int kShortUnits = 512;
constexpr int kPathUnits = 1024;
// Any path or command line Windows can hold, terminator included.
constexpr int kLongUnits = 32768;

HINSTANCE ProgramModule() { return GetModuleHandleW(nullptr); }

bool IsContinuationByte(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// Converts a terminated UTF-8 text into out (terminated). A text that does not
// fit is cut at a character boundary.
void Utf8ToWide(const char* text, wchar_t* out, int capacity) {
    out[0] = L'\0';
    if (text == nullptr || capacity < 2) {
        return;
    }
    const int room = capacity - 1;
    std::size_t length = std::strlen(text);
    int bytes = length > static_cast<std::size_t>(room) * 4 ? room * 4 : static_cast<int>(length);
    if (bytes == 0) {
        return;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (units > room) {
        // Keep whole characters while they fit: a four-byte sequence takes two
        // units, every other character one.
        int used = 0;
        int cut = 0;
        int i = 0;
        while (i < bytes) {
            int need = static_cast<unsigned char>(text[i]) >= 0xF0u ? 2 : 1;
            if (used + need > room) {
                break;
            }
            used += need;
            ++i;
            while (i < bytes && IsContinuationByte(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            cut = i;
        }
        bytes = cut;
        units = bytes > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0) : 0;
        if (units > room) {
            // Malformed input converts one unit per byte at worst.
            bytes = room;
            while (bytes > 0 && IsContinuationByte(static_cast<unsigned char>(text[bytes]))) {
                --bytes;
            }
        }
        if (bytes == 0) {
            return;
        }
    }
    int written = MultiByteToWideChar(CP_UTF8, 0, text, bytes, out, room);
    out[written > 0 ? written : 0] = L'\0';
}

// Converts units UTF-16 units into a terminated UTF-8 text of at most size-1
// bytes, cut at a character boundary.
void WideToUtf8(const wchar_t* text, int units, char* buffer, std::size_t size) {
    if (size == 0) {
        return;
    }
    buffer[0] = '\0';
    std::size_t total = 0;
    int cut = 0;
    while (cut < units) {
        wchar_t c = text[cut];
        int step = 1;
        std::size_t need = 3;
        if (c < 0x80) {
            need = 1;
        } else if (c < 0x800) {
            need = 2;
        } else if (c >= 0xD800 && c < 0xDC00 && cut + 1 < units && text[cut + 1] >= 0xDC00 && text[cut + 1] < 0xE000) {
            need = 4;
            step = 2;
        }
        if (total + need > size - 1) {
            break;
        }
        total += need;
        cut += step;
    }
    if (cut == 0) {
        return;
    }
    int written = WideCharToMultiByte(CP_UTF8, 0, text, cut, buffer, static_cast<int>(size - 1), nullptr, nullptr);
    buffer[written > 0 ? written : 0] = '\0';
}

// A UTF-8 text converted for one call.
template <int Units>
struct Wide {
    wchar_t text[Units];
    explicit Wide(const char* utf8) { Utf8ToWide(utf8, text, Units); }
};

LRESULT SendItem(Window dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageW(dialog, id, message, wParam, lParam);
}

bool FolderText(UINT (*query)(wchar_t*, UINT), char* buffer, std::size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    // User-interface thread only; too big for its stack.
    static wchar_t path[kLongUnits];
    UINT units = query(path, kLongUnits);
    if (units == 0 || units >= kLongUnits) {
        return false;
    }
    // A path cut short names another folder: report it as unavailable instead.
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0 || static_cast<std::size_t>(bytes) >= size) {
        return false;
    }
    WideToUtf8(path, static_cast<int>(units), buffer, size);
    return true;
}

UINT WindowsFolderQuery(wchar_t* path, UINT units) { return GetWindowsDirectoryW(path, units); }
UINT SystemFolderQuery(wchar_t* path, UINT units) { return GetSystemDirectoryW(path, units); }
UINT CurrentFolderQuery(wchar_t* path, UINT units) { return GetCurrentDirectoryW(units, path); }

}  // namespace

// ---- list box ----

int ListAddRow(Window dialog, int id, const char* text) {
    Wide<kTextUnits> row(text);
    return static_cast<int>(SendItem(dialog, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.text)));
}

// A refill runs from ListEmpty to the ListSelectRow that ends it, and the list
// is not drawn in between: a shown list redraws its scroll bar on every row
// added (about 4 ms a row under Wine, half a second for a full table's two
// lists).
void ListEmpty(Window dialog, int id) {
    SendItem(dialog, id, WM_SETREDRAW, FALSE, 0);
    SendItem(dialog, id, LB_RESETCONTENT, 0, 0);
}

void ListSelectRow(Window dialog, int id, int row) {
    // A row outside the list leaves no selection, whatever the control would
    // keep on its own.
    if (row < 0 || row >= ListGetCount(dialog, id)) {
        row = -1;
    }
    SendItem(dialog, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    SendItem(dialog, id, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(GetDlgItem(dialog, id), nullptr, TRUE);
}

int ListGetSelection(Window dialog, int id) { return static_cast<int>(SendItem(dialog, id, LB_GETCURSEL, 0, 0)); }

int ListGetCount(Window dialog, int id) { return static_cast<int>(SendItem(dialog, id, LB_GETCOUNT, 0, 0)); }

// ---- combo box ----

int ComboAddRow(Window dialog, int id, const char* text) {
    Wide<kTextUnits> row(text);
    return static_cast<int>(SendItem(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.text)));
}

void ComboEmpty(Window dialog, int id) { SendItem(dialog, id, CB_RESETCONTENT, 0, 0); }

void ComboSelectRow(Window dialog, int id, int row) {
    if (row < 0 || row >= ComboGetCount(dialog, id)) {
        row = -1;
    }
    SendItem(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

int ComboGetSelection(Window dialog, int id) { return static_cast<int>(SendItem(dialog, id, CB_GETCURSEL, 0, 0)); }

int ComboGetCount(Window dialog, int id) { return static_cast<int>(SendItem(dialog, id, CB_GETCOUNT, 0, 0)); }

// ---- buttons and enabling ----

void ClickButton(Window dialog, int id) { SendItem(dialog, id, BM_CLICK, 0, 0); }

void PostButtonClick(Window dialog, int id) { PostMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

bool IsButtonChecked(Window dialog, int id) { return SendItem(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetButtonChecked(Window dialog, int id, bool checked) {
    SendItem(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void EnableControl(Window dialog, int id, bool enable) { EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE); }

bool IsControlEnabled(Window dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// ---- edit, progress bar, status bar ----

void EditAppendText(Window dialog, int id, const char* text) {
    // Appends run on the dialog's thread only, so one static buffer serves the
    // log's biggest blocks (every UTF-8 text of 512 KB fits in as many units).
    static wchar_t units[512 * 1024 + 1];
    Utf8ToWide(text, units, static_cast<int>(std::size(units)));
    // (-2, -2) is clamped by the control to the end of its text.
    SendItem(dialog, id, EM_SETSEL, static_cast<WPARAM>(-2), -2);
    SendItem(dialog, id, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(units));
    SendItem(dialog, id, EM_SETSEL, static_cast<WPARAM>(-2), -2);
}

void EditRaiseLimit(Window dialog, int id) { SendItem(dialog, id, EM_SETLIMITTEXT, 0, 0); }

void EditSetText(Window dialog, int id, const char* text) {
    Wide<kTextUnits> whole(text);
    SendItem(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(whole.text));
}

void ProgressSetRange(Window dialog, int id, int maximum) { SendItem(dialog, id, PBM_SETRANGE32, 0, maximum); }

void ProgressSetPos(Window dialog, int id, int position) {
    SendItem(dialog, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StatusSetText(Window dialog, int id, const char* text) {
    Wide<kTextUnits> status(text);
    SendItem(dialog, id, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(status.text));
}

// ---- windows and dialogs ----

void InitCommonControlClasses(unsigned classSet) {
    INITCOMMONCONTROLSEX controls{sizeof controls, classSet};
    InitCommonControlsEx(&controls);
}

void SetControlFocus(Window dialog, int id) { SetFocus(GetDlgItem(dialog, id)); }

void SetWindowTitle(Window window, const char* text) {
    Wide<kShortUnits> title(text);
    SetWindowTextW(window, title.text);
}

void SetWindowIcons(Window window, int iconId) {
    // The group holds several sizes; ask for the ones the system draws.
    auto load = [iconId](int widthMetric, int heightMetric) {
        return LoadImageW(ProgramModule(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, GetSystemMetrics(widthMetric),
                          GetSystemMetrics(heightMetric), LR_SHARED);
    };
    HANDLE big = load(SM_CXICON, SM_CYICON);
    HANDLE small = load(SM_CXSMICON, SM_CYSMICON);
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void DestroyDialog(Window dialog) { DestroyWindow(dialog); }

void PostQuit(int code) { PostQuitMessage(code); }

intptr_t RunModalDialog(int templateId, Window owner, DialogProc proc) {
    return DialogBoxParamW(ProgramModule(), MAKEINTRESOURCEW(templateId), owner, reinterpret_cast<DLGPROC>(proc), 0);
}

void EndModalDialog(Window dialog, intptr_t result) { EndDialog(dialog, result); }

intptr_t SendDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return SendMessageW(dialog, message, wParam, lParam);
}

bool PostDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return PostMessageW(dialog, message, wParam, lParam) != 0;
}

void StartWindowTimer(Window window, unsigned id, unsigned ms) { SetTimer(window, id, ms, nullptr); }

void StopWindowTimer(Window window, unsigned id) { KillTimer(window, id); }

intptr_t DefaultCommandResult(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned kind) {
    Wide<kTextUnits> body(text);
    Wide<kShortUnits> title(caption);
    return MessageBoxW(owner, body.text, title.text, kind);
}

void LoadStringText(int id, char* buffer, std::size_t size) {
    // With a zero size LoadStringW hands out the resource's own read-only
    // text, so no entry is ever cut by an intermediate buffer.
    const wchar_t* text = nullptr;
    int units = LoadStringW(ProgramModule(), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    if (size > 0) {
        buffer[0] = '\0';
    }
    if (units > 0 && text != nullptr) {
        WideToUtf8(text, units, buffer, size);
    }
}

// ---- kernel services ----

LocalTime GetLocalTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void DebugOutput(const char* text) {
    Wide<kTextUnits> line(text);
    OutputDebugStringW(line.text);
}

unsigned GetLastErrorCode() { return GetLastError(); }

void SetLastErrorCode(unsigned code) { SetLastError(code); }

void GetErrorText(unsigned code, char* buffer, std::size_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    DWORD kept = GetLastError();
    // Room for any system text: every unit becomes at most three UTF-8 bytes
    // of the caller's line-sized buffer.
    wchar_t text[1700];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400, text,
                                 static_cast<DWORD>(std::size(text)), nullptr);
    if (units > 0) {
        WideToUtf8(text, static_cast<int>(units), buffer, size);
    }
    SetLastError(kept);
}

unsigned TryOpenPort(const char* devicePath) {
    Wide<kPathUnits> path(devicePath);
    HANDLE port = CreateFileW(path.text, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        SetLastError(error);
        return error;
    }
    CloseHandle(port);
    return 0;
}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

bool StartThread(ThreadRoutine routine, void* argument) {
    HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0, nullptr);
    if (thread == nullptr) {
        return false;
    }
    CloseHandle(thread);
    return true;
}

bool GetWindowsFolder(char* buffer, std::size_t size) { return FolderText(WindowsFolderQuery, buffer, size); }

bool GetSystemFolder(char* buffer, std::size_t size) { return FolderText(SystemFolderQuery, buffer, size); }

bool GetCurrentFolder(char* buffer, std::size_t size) { return FolderText(CurrentFolderQuery, buffer, size); }

bool FolderExists(const char* path) {
    Wide<kPathUnits> folder(path);
    return GetFileAttributesW(folder.text) != INVALID_FILE_ATTRIBUTES;
}

namespace {

HANDLE ParentConsole();

bool IsUsable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// Starts a UTF-8 command line through CreateProcessW. User-interface thread
// only (the converted line is too big for its stack). With passOutput the
// program gets this one's standard handles, so it writes where this one does.
bool StartCommand(const char* commandLine, bool passOutput, PROCESS_INFORMATION& process) {
    static wchar_t line[kLongUnits];
    Utf8ToWide(commandLine, line, kLongUnits);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (passOutput) {
        // Attached first, so the program started finds the same console as
        // its parent's.
        ParentConsole();
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    return CreateProcessW(nullptr, line, nullptr, nullptr, passOutput ? TRUE : FALSE, 0, nullptr, nullptr, &startup,
                          &process) != FALSE;
}

}  // namespace

unsigned RunProgram(const char* commandLine) {
    PROCESS_INFORMATION process{};
    if (!StartCommand(commandLine, false, process)) {
        DWORD error = GetLastError();
        return error < 32 ? error : 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 33;
}

bool RunProgramAndWait(const char* commandLine, unsigned* exitCode) {
    PROCESS_INFORMATION process{};
    if (!StartCommand(commandLine, true, process)) {
        return false;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    *exitCode = code;
    return true;
}

void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    constexpr std::size_t kFieldUnits = 1024;
    int bytes = static_cast<int>(strnlen(field, width < kFieldUnits ? width : kFieldUnits - 1));
    // ASCII reads the same in every ANSI code page and in UTF-8: copied as it
    // is, without a system call a byte (a full table has thousands of fields).
    int ascii = 0;
    while (ascii < bytes && static_cast<unsigned char>(field[ascii]) < 0x80) {
        ++ascii;
    }
    if (ascii == bytes) {
        std::size_t kept = size > 0 && static_cast<std::size_t>(bytes) > size - 1 ? size - 1 : bytes;
        if (size > 0) {
            std::memcpy(buffer, field, kept);
            buffer[kept] = '\0';
        }
        return;
    }
    // A double-byte character cut by the field's end is dropped whole.
    int whole = 0;
    while (whole < bytes) {
        int step = IsDBCSLeadByte(static_cast<BYTE>(field[whole])) ? 2 : 1;
        if (whole + step > bytes) {
            break;
        }
        whole += step;
    }
    if (whole == 0) {
        return;
    }
    wchar_t wide[kFieldUnits];
    int units = MultiByteToWideChar(CP_ACP, 0, field, whole, wide, static_cast<int>(kFieldUnits - 1));
    if (units > 0) {
        WideToUtf8(wide, units, buffer, size);
    }
}

bool QueryWow64(bool* isWow64) {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleA("kernel32");
    FARPROC found = kernel != nullptr ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
    if (found == nullptr) {
        return false;
    }
    BOOL wow64 = FALSE;
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void (*)()>(found));
    if (!isWow64Process(GetCurrentProcess(), &wow64)) {
        return false;
    }
    *isWow64 = wow64 != FALSE;
    return true;
}

namespace {

// A modal dialog's message loop runs no accelerators of its own; the message
// filter hook sees each of its messages first. User-interface thread only.
HWND acceleratorDialog = nullptr;
HACCEL acceleratorTable = nullptr;
HHOOK acceleratorHook = nullptr;

LRESULT CALLBACK AcceleratorFilter(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && message != nullptr && IsWindow(acceleratorDialog) &&
        (message->hwnd == acceleratorDialog || IsChild(acceleratorDialog, message->hwnd)) &&
        TranslateAcceleratorW(acceleratorDialog, acceleratorTable, message) != 0) {
        return TRUE;
    }
    return CallNextHookEx(acceleratorHook, code, wParam, lParam);
}

}  // namespace

void AttachAccelerators(Window dialog, int acceleratorsId) {
    acceleratorDialog = dialog;
    acceleratorTable = LoadAcceleratorsW(ProgramModule(), MAKEINTRESOURCEW(acceleratorsId));
    if (acceleratorTable != nullptr && acceleratorHook == nullptr) {
        acceleratorHook = SetWindowsHookExW(WH_MSGFILTER, AcceleratorFilter, nullptr, GetCurrentThreadId());
    }
}

// ---- command line, console, files, machine-wide run lock ----

void GetProgramArguments(ArgumentList& list) {
    list.count = 0;
    list.overflow = false;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return;
    }
    for (int i = 1; i < count; ++i) {
        int units = lstrlenW(arguments[i]);
        int bytes = WideCharToMultiByte(CP_UTF8, 0, arguments[i], units, nullptr, 0, nullptr, nullptr);
        if (list.count == kMaxArguments || bytes < 0 || static_cast<std::size_t>(bytes) >= kArgumentSize) {
            list.overflow = true;
            break;
        }
        WideToUtf8(arguments[i], units, list.text[list.count], kArgumentSize);
        ++list.count;
    }
    LocalFree(arguments);
}

bool GetArgumentsText(char* buffer, std::size_t size) {
    const wchar_t* line = GetCommandLineW();
    // The program's name ends at the closing quote or at the first blank, as
    // the system's own parser has it.
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') {
            ++line;
        }
        if (*line == L'"') {
            ++line;
        }
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') {
            ++line;
        }
    }
    while (*line == L' ' || *line == L'\t') {
        ++line;
    }
    int units = lstrlenW(line);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, units, nullptr, 0, nullptr, nullptr);
    if (size == 0 || bytes < 0 || static_cast<std::size_t>(bytes) >= size) {
        return false;
    }
    WideToUtf8(line, units, buffer, size);
    return true;
}

namespace {

bool WriteAll(HANDLE handle, const char* data, std::size_t length) {
    while (length > 0) {
        DWORD chunk = length > 65536 ? 65536 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        length -= written;
    }
    return true;
}

// A console of the parent process, attached once: a windowed program starts
// without one.
HANDLE ParentConsole() {
    static HANDLE console = INVALID_HANDLE_VALUE;
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (AttachConsole(ATTACH_PARENT_PROCESS)) {
            console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        }
    }
    return console;
}

}  // namespace

void ConsoleWrite(const char* text, bool toError) {
    // Redirected to a file or a pipe: the UTF-8 bytes as they are. Else the
    // console, in UTF-16 so Chinese reads right whatever its code page.
    HANDLE standard = GetStdHandle(toError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    bool redirected =
        IsUsable(standard) && GetFileType(standard) != FILE_TYPE_CHAR && GetFileType(standard) != FILE_TYPE_UNKNOWN;
    std::size_t length = std::strlen(text);
    if (!redirected) {
        HANDLE console = ParentConsole();
        if (console != INVALID_HANDLE_VALUE) {
            static wchar_t wide[kTextUnits];
            std::size_t done = 0;
            // In pieces that each fit the buffer, cut between characters.
            while (done < length) {
                std::size_t piece = length - done > kTextUnits - 1 ? kTextUnits - 1 : length - done;
                while (done + piece < length && IsContinuationByte(static_cast<unsigned char>(text[done + piece]))) {
                    --piece;
                }
                int units = MultiByteToWideChar(CP_UTF8, 0, text + done, static_cast<int>(piece), wide, kTextUnits);
                DWORD written = 0;
                if (units <= 0 || !WriteConsoleW(console, wide, static_cast<DWORD>(units), &written, nullptr)) {
                    break;
                }
                done += piece;
            }
            if (done == length) {
                return;
            }
            text += done;
            length -= done;
        }
    }
    if (IsUsable(standard)) {
        WriteAll(standard, text, length);
    }
}

bool GetProgramDataFolder(char* buffer, std::size_t size) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    PWSTR path = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) {
        CoTaskMemFree(path);
        return false;
    }
    int units = lstrlenW(path);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, path, units, nullptr, 0, nullptr, nullptr);
    bool fits = units > 0 && bytes > 0 && static_cast<std::size_t>(bytes) < size;
    if (fits) {
        WideToUtf8(path, units, buffer, size);
    }
    CoTaskMemFree(path);
    return fits;
}

bool CreateFolder(const char* path) {
    Wide<kPathUnits> folder(path);
    if (CreateDirectoryW(folder.text, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD attributes = GetFileAttributesW(folder.text);
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return false;
}

FileRead ReadWholeFile(const char* path, char* buffer, std::size_t size, std::size_t* length) {
    *length = 0;
    if (size == 0) {
        return FileRead::TooBig;
    }
    buffer[0] = '\0';
    Wide<kPathUnits> name(path);
    HANDLE file = CreateFileW(name.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileRead::Missing : FileRead::Failed;
    }
    LARGE_INTEGER fileSize{};
    FileRead result = FileRead::Done;
    if (!GetFileSizeEx(file, &fileSize)) {
        result = FileRead::Failed;
    } else if (static_cast<unsigned long long>(fileSize.QuadPart) >= size) {
        result = FileRead::TooBig;
    } else {
        auto wanted = static_cast<std::size_t>(fileSize.QuadPart);
        std::size_t done = 0;
        while (done < wanted) {
            DWORD chunk = wanted - done > 65536 ? 65536 : static_cast<DWORD>(wanted - done);
            DWORD read = 0;
            if (!ReadFile(file, buffer + done, chunk, &read, nullptr) || read == 0) {
                break;
            }
            done += read;
        }
        if (done != wanted) {
            result = FileRead::Failed;
            done = 0;
        }
        buffer[done] = '\0';
        *length = done;
    }
    CloseHandle(file);
    return result;
}

bool SaveFileWhole(const char* path, const char* data, std::size_t length) {
    Wide<kPathUnits> name(path);
    wchar_t fresh[kPathUnits + 8];
    int units = lstrlenW(name.text);
    if (units == 0 || units + 5 > kPathUnits) {
        return false;
    }
    std::memcpy(fresh, name.text, static_cast<std::size_t>(units) * sizeof(wchar_t));
    std::memcpy(fresh + units, L".new", 5 * sizeof(wchar_t));
    HANDLE file = CreateFileW(fresh, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool written = WriteAll(file, data, length) && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written || !MoveFileExW(fresh, name.text, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(fresh);
        return false;
    }
    return true;
}

bool AppendToFile(const char* path, const char* data, std::size_t length, bool flush) {
    Wide<kPathUnits> name(path);
    HANDLE file = CreateFileW(name.text, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool written = WriteAll(file, data, length) && (!flush || FlushFileBuffers(file));
    CloseHandle(file);
    return written;
}

namespace {
HANDLE runLock = nullptr;
}  // namespace

bool AcquireRunLock(unsigned waitMs) {
    if (runLock == nullptr) {
        // Global: one run on the machine, whichever session started it.
        runLock = CreateMutexW(nullptr, FALSE, L"Global\\KestrovaRun");
        if (runLock == nullptr) {
            return false;
        }
    }
    // An abandoned lock belonged to a run that ended without releasing it: the
    // journal tells what that run left behind.
    DWORD result = WaitForSingleObject(runLock, waitMs);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void ReleaseRunLock() {
    if (runLock != nullptr) {
        ReleaseMutex(runLock);
    }
}

// ---- COM port database ----

ComDbHandle InvalidComDb() { return HCOMDB_INVALID_HANDLE_VALUE; }

long ComDbOpen(ComDbHandle* handle) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    LONG result = ComDBOpen(&database);
    *handle = database;
    return result;
}

long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size) {
    DWORD reported = 0;
    return ComDBGetCurrentPortUsage(static_cast<HCOMDB>(handle), bits, size, CDB_REPORT_BITS, &reported);
}

long ComDbClaim(ComDbHandle handle, unsigned number) {
    return ComDBClaimPort(static_cast<HCOMDB>(handle), number, FALSE, nullptr);
}

long ComDbRelease(ComDbHandle handle, unsigned number) { return ComDBReleasePort(static_cast<HCOMDB>(handle), number); }

// ---- device notifications ----

void* RegisterUsbInterfaceNotification(Window window) {
    // The system's USB device interface class.
    constexpr GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kUsbDeviceInterface;
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnregisterDeviceNotificationHandle(void* handle) {
    if (handle != nullptr) {
        UnregisterDeviceNotification(handle);
    }
}

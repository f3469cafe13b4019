// The platform seam over the real Win32 calls. Texts arrive as UTF-8 and go
// to the Unicode window functions through bounded stack buffers; nothing here
// allocates.
#include "platform/platform.h"

#include <commctrl.h>
#include <dbt.h>
#include <ddk/msports.h>

#include <cstring>
#include <iterator>

namespace {

// The biggest texts the program shows: the rename result report and the log's
// raw text are 10240 bytes, the usage summary 8192. Every UTF-8 text of
// 10239 bytes fits in 10240 UTF-16 units.
constexpr int kTextUnits = 10240;
constexpr int kShortUnits = 512;
constexpr int kPathUnits = 1024;

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
    wchar_t path[kPathUnits];
    UINT units = query(path, kPathUnits);
    if (units == 0 || units >= kPathUnits) {
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

void ListEmpty(Window dialog, int id) { SendItem(dialog, id, LB_RESETCONTENT, 0, 0); }

void ListSelectRow(Window dialog, int id, int row) {
    // A row outside the list leaves no selection, whatever the control would
    // keep on its own.
    if (row < 0 || row >= ListGetCount(dialog, id)) {
        row = -1;
    }
    SendItem(dialog, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
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
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400,
                                 text, static_cast<DWORD>(std::size(text)), nullptr);
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
    HANDLE thread =
        CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0, nullptr);
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

unsigned RunProgram(const char* commandLine) {
    // WinExec takes the ANSI code page. A command line with characters that
    // code page cannot hold names no reachable file: report it as not found
    // rather than start whatever the replacement characters spell.
    Wide<kPathUnits> wide(commandLine);
    char ansi[kPathUnits * 2];
    BOOL lossy = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.text, -1, ansi, sizeof ansi, nullptr, &lossy);
    if (bytes == 0 || lossy) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return ERROR_FILE_NOT_FOUND;
    }
    return WinExec(ansi, SW_SHOWNORMAL);
}

void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    constexpr std::size_t kFieldUnits = 1024;
    int bytes = static_cast<int>(strnlen(field, width < kFieldUnits ? width : kFieldUnits - 1));
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

long ComDbRelease(ComDbHandle handle, unsigned number) {
    return ComDBReleasePort(static_cast<HCOMDB>(handle), number);
}

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

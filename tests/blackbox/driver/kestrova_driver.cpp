// Drives the shipped program from outside, as a user would, for the black-box
// tests (tests/blackbox/run-blackbox): it runs in the same Wine prefix and on
// the same desktop as the program, finds its windows, reads and operates their
// controls through window messages, answers its message boxes, sends device
// notifications and reads and writes the COM port database in the registry.
//
// Usage: kestrova_driver COMMAND ARGS... (see Usage() below). Output is UTF-8,
// one fact per line; the exit code is 0 on success, 1 when a check fails or a
// wait times out, 2 for a bad command line. Every wait is bounded.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "resources/layout.h"

namespace {

// ---- output ----

void Write(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void Line(const std::string& text) { Write(text + "\n"); }

// A failed check or wait: says why and makes the command fail.
int Fail(const std::string& text) {
    Line("error: " + text);
    return 1;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

// Control characters written as escapes, so that every text is one line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

int CountOf(const std::string& text, const std::string& part) {
    if (part.empty()) return 0;
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

// ---- reading another process's windows ----

// Messages to the program's windows are sent with a bound: a program that
// stopped answering fails the command instead of hanging it.
constexpr UINT kSendTimeoutMs = 5000;

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr) {
    DWORD_PTR answer = 0;
    const LRESULT ok = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                           kSendTimeoutMs, &answer);
    if (result != nullptr) *result = static_cast<LRESULT>(answer);
    return ok != 0;
}

LRESULT SendValue(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    LRESULT result = 0;
    return Send(window, message, wParam, lParam, &result) ? result : -1;
}

// WM_GETTEXT, LB_GETTEXT and CB_GETLBTEXT are marshalled between processes.
std::string Text(HWND window) {
    const LRESULT length = SendValue(window, WM_GETTEXTLENGTH);
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    if (!Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied)) return {};
    text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
    return Utf8(text);
}

std::string RowText(HWND window, UINT lengthMessage, UINT textMessage, int row) {
    const LRESULT length = SendValue(window, lengthMessage, static_cast<WPARAM>(row));
    if (length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    if (!Send(window, textMessage, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text.data()), &copied)) return {};
    text.resize(static_cast<size_t>(std::max<LRESULT>(copied, 0)));
    return Utf8(text);
}

std::string ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Utf8(name);
}

// The caption of a top-level window, without sending it a message.
std::string Caption(HWND window) {
    wchar_t text[512] = {};
    InternalGetWindowText(window, text, 512);
    return Utf8(text);
}

DWORD Style(HWND window) { return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)); }
DWORD ExStyle(HWND window) { return static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)); }
int ControlId(HWND window) { return static_cast<short>(GetWindowLongPtrW(window, GWLP_ID)); }

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

HWND Control(HWND dialog, int id) {
    for (HWND child : Children(dialog)) {
        if (ControlId(child) == id) return child;
    }
    return nullptr;
}

// ---- the program's windows ----

const char* const kMainTitlePrefix = "Kestrova V120";
const char* const kUsageTitle = "Com Port Num Usage Manager(COMDB)";
const char* const kAboutTitle = "关于 Kestrova";

bool IsDialog(HWND window) { return IsWindowVisible(window) && ClassName(window) == "#32770"; }

bool IsKnownDialog(const std::string& title) {
    return title.rfind(kMainTitlePrefix, 0) == 0 || title == kUsageTitle || title == kAboutTitle;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM list) {
    if (IsDialog(window)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every shown dialog window on the desktop, message boxes included.
std::vector<HWND> ShownDialogs() {
    std::vector<HWND> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Message boxes: shown dialogs that are none of the program's three.
std::vector<HWND> MessageBoxes() {
    std::vector<HWND> boxes;
    for (HWND window : ShownDialogs()) {
        if (!IsKnownDialog(Caption(window))) boxes.push_back(window);
    }
    return boxes;
}

// "main", "usage", "about", or a title prefix.
HWND FindDialog(const std::string& which) {
    std::string prefix = which;
    bool exact = false;
    if (which == "main") {
        prefix = kMainTitlePrefix;
    } else if (which == "usage") {
        prefix = kUsageTitle;
        exact = true;
    } else if (which == "about") {
        prefix = kAboutTitle;
        exact = true;
    }
    for (HWND window : ShownDialogs()) {
        const std::string title = Caption(window);
        if (exact ? title == prefix : title.rfind(prefix, 0) == 0) return window;
    }
    return nullptr;
}

constexpr DWORD kPollMs = 50;

// Polls until found returns a window or the time is up.
template <typename Finder>
HWND WaitFor(Finder found, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (HWND window = found()) return window;
        if (GetTickCount64() >= end) return nullptr;
        Sleep(kPollMs);
    }
}

// ---- message boxes ----

std::string BoxText(HWND box) {
    // The message text is the static with id 0xFFFF; the icon is a static too.
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text != nullptr) return Text(text);
    std::string all;
    for (HWND child : Children(box)) {
        if (ClassName(child) == "Static" && (Style(child) & SS_TYPEMASK) != SS_ICON) all += Text(child);
    }
    return all;
}

struct BoxButton {
    int id;
    std::string text;
};

std::vector<BoxButton> BoxButtons(HWND box) {
    std::vector<BoxButton> buttons;
    for (HWND child : Children(box)) {
        if (ClassName(child) == "Button" && IsWindowVisible(child)) buttons.push_back({ControlId(child), Text(child)});
    }
    return buttons;
}

const char* ButtonName(int id) {
    switch (id) {
    case IDOK: return "ok";
    case IDCANCEL: return "cancel";
    case IDYES: return "yes";
    case IDNO: return "no";
    case IDABORT: return "abort";
    case IDRETRY: return "retry";
    case IDIGNORE: return "ignore";
    default: return "other";
    }
}

// The screen's pixels of a rectangle, 32 bits each, top row first.
std::vector<DWORD> Pixels(HDC source, int x, int y, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(source);
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> pixels(static_cast<const DWORD*>(bits), static_cast<const DWORD*>(bits) + width * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    for (DWORD& p : pixels) p &= 0x00FFFFFF;
    return pixels;
}

// An icon drawn by this process over a background colour.
std::vector<DWORD> RenderIcon(HICON icon, int width, int height, DWORD background) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(RGB(GetBValue(background), GetGValue(background), GetRValue(background)));
    RECT all{0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    std::vector<DWORD> pixels = Pixels(memory, 0, 0, width, height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// Which system icon a message box shows. The icon handle belongs to the
// program's process and cannot be inspected from here, so the icon's pixels
// on the screen are compared with the system icons drawn here over the same
// background; the closest one wins if it is close enough.
std::string BoxIcon(HWND box) {
    HWND iconWindow = nullptr;
    for (HWND child : Children(box)) {
        if (ClassName(child) == "Static" && (Style(child) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            iconWindow = child;
        }
    }
    if (iconWindow == nullptr) return "none";
    const int width = GetSystemMetrics(SM_CXICON);
    const int height = GetSystemMetrics(SM_CYICON);
    const struct {
        const wchar_t* resource;
        const char* name;
    } candidates[] = {
        {IDI_INFORMATION, "information"}, {IDI_WARNING, "warning"}, {IDI_ERROR, "error"}, {IDI_QUESTION, "question"}};
    // The box may not have painted yet: look again for a while.
    const ULONGLONG end = GetTickCount64() + 3000;
    for (;;) {
        RECT r;
        GetWindowRect(iconWindow, &r);
        HDC screen = GetDC(nullptr);
        const std::vector<DWORD> shown = Pixels(screen, r.left, r.top, width, height);
        ReleaseDC(nullptr, screen);
        const char* best = "unknown";
        size_t bestDifferences = shown.size();
        for (const auto& c : candidates) {
            const std::vector<DWORD> drawn = RenderIcon(LoadIconW(nullptr, c.resource), width, height, shown[0]);
            size_t differences = 0;
            for (size_t i = 0; i < shown.size(); ++i) differences += shown[i] != drawn[i];
            if (differences < bestDifferences) {
                bestDifferences = differences;
                best = c.name;
            }
        }
        // Anti-aliased edges may differ slightly; a wrong icon differs in most pixels.
        if (bestDifferences * 20 < shown.size()) return best;
        if (GetTickCount64() >= end) return "unknown";
        Sleep(100);
    }
}

void DescribeBox(HWND box) {
    Line("caption: " + Caption(box));
    Line("text: " + Escaped(BoxText(box)));
    Line("icon: " + BoxIcon(box));
    std::string names;
    for (const BoxButton& b : BoxButtons(box)) names += std::string(names.empty() ? "" : ",") + ButtonName(b.id);
    Line("buttons: " + names);
}

int ButtonId(const std::string& name) {
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO, IDABORT, IDRETRY, IDIGNORE}) {
        if (name == ButtonName(id)) return id;
    }
    return 0;
}

// ---- the COM port database (the registry value Windows keeps it in) ----

constexpr int kComNumbers = 256;
const wchar_t* const kComDbKey = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

bool ReadComDb(std::vector<bool>* claimed) {
    claimed->assign(kComNumbers + 1, false);
    BYTE bits[512] = {};
    DWORD size = sizeof bits;
    DWORD type = 0;
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, kComDbKey, L"ComDB", RRF_RT_REG_BINARY, &type, bits, &size);
    if (status == ERROR_FILE_NOT_FOUND) return true;  // no database yet: everything free
    if (status != ERROR_SUCCESS) return false;
    for (int n = 1; n <= kComNumbers && static_cast<DWORD>((n - 1) / 8) < size; ++n) {
        (*claimed)[static_cast<size_t>(n)] = (bits[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
    }
    return true;
}

// "1,3-17,20" for the claimed numbers, "none" for none.
std::string NumberList(const std::vector<bool>& claimed) {
    std::string out;
    for (int n = 1; n <= kComNumbers; ++n) {
        if (!claimed[static_cast<size_t>(n)]) continue;
        int last = n;
        while (last < kComNumbers && claimed[static_cast<size_t>(last + 1)]) ++last;
        out += (out.empty() ? "" : ",") + (last == n ? std::to_string(n) : Format("%d-%d", n, last));
        n = last;
    }
    return out.empty() ? "none" : out;
}

bool ParseNumberList(const std::string& list, std::vector<bool>* claimed) {
    claimed->assign(kComNumbers + 1, false);
    if (list == "none") return true;
    std::stringstream parts(list);
    std::string part;
    while (std::getline(parts, part, ',')) {
        int first = 0, last = 0;
        char dash = 0;
        std::stringstream range(part);
        range >> first;
        if (range >> dash) {
            if (dash != '-' || !(range >> last)) return false;
        } else {
            last = first;
        }
        if (first < 1 || last > kComNumbers || first > last) return false;
        for (int n = first; n <= last; ++n) (*claimed)[static_cast<size_t>(n)] = true;
    }
    return true;
}

bool WriteComDb(const std::vector<bool>& claimed) {
    BYTE bits[kComNumbers / 8] = {};
    for (int n = 1; n <= kComNumbers; ++n) {
        if (claimed[static_cast<size_t>(n)]) bits[(n - 1) / 8] |= static_cast<BYTE>(1u << ((n - 1) % 8));
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kComDbKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const bool ok = RegSetValueExW(key, L"ComDB", 0, REG_BINARY, bits, sizeof bits) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

int FirstFreeFrom3(const std::vector<bool>& claimed) {
    for (int n = 3; n <= kComNumbers; ++n) {
        if (!claimed[static_cast<size_t>(n)]) return n;
    }
    return 0;
}

// ---- commands ----

using Args = std::vector<std::string>;

int ToInt(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 0)); }
DWORD ToMs(const std::string& text) { return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 0)); }

HWND RequireDialog(const std::string& which) {
    HWND dialog = FindDialog(which);
    if (dialog == nullptr) Fail("no shown dialog " + which);
    return dialog;
}

HWND RequireControl(HWND dialog, int id) {
    HWND control = Control(dialog, id);
    if (control == nullptr) Fail(Format("no control %d", id));
    return control;
}

// wait WHICH TIMEOUT_MS: a dialog is shown.
int CommandWait(const Args& a) {
    HWND dialog = WaitFor([&] { return FindDialog(a[0]); }, ToMs(a[1]));
    if (dialog == nullptr) return Fail("timed out waiting for " + a[0]);
    Line("title: " + Caption(dialog));
    return 0;
}

// wait-gone WHICH TIMEOUT_MS: no such dialog is shown any more.
int CommandWaitGone(const Args& a) {
    const ULONGLONG end = GetTickCount64() + ToMs(a[1]);
    while (FindDialog(a[0]) != nullptr) {
        if (GetTickCount64() >= end) return Fail(a[0] + " is still shown");
        Sleep(kPollMs);
    }
    return 0;
}

void DumpDialog(HWND dialog) {
    Line("title: " + Caption(dialog));
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus != nullptr) {
        HWND focus = gui.hwndFocus;
        // The edit field of a combo box has the focus for the combo.
        if (GetParent(focus) != dialog && GetParent(focus) != nullptr) focus = GetParent(focus);
        Line(Format("focus: %d", ControlId(focus)));
    }
    for (HWND child : Children(dialog)) {
        const int id = ControlId(child);
        const std::string cls = ClassName(child);
        const int enabled = IsWindowEnabled(child) ? 1 : 0;
        if (cls == "Button") {
            const DWORD type = Style(child) & BS_TYPEMASK;
            if (type == BS_GROUPBOX) continue;
            const int checked = SendValue(child, BM_GETCHECK) == BST_CHECKED ? 1 : 0;
            Line(Format("button %d checked=%d enabled=%d text: ", id, checked, enabled) + Escaped(Text(child)));
        } else if (cls == "ListBox") {
            const int count = static_cast<int>(SendValue(child, LB_GETCOUNT));
            Line(Format("list %d sel=%d count=%d enabled=%d", id, static_cast<int>(SendValue(child, LB_GETCURSEL)),
                        count, enabled));
            for (int row = 0; row < count; ++row) {
                Line(Format("list %d row %d: ", id, row) + RowText(child, LB_GETTEXTLEN, LB_GETTEXT, row));
            }
        } else if (cls == "ComboBox") {
            const int count = static_cast<int>(SendValue(child, CB_GETCOUNT));
            Line(Format("combo %d sel=%d count=%d enabled=%d", id, static_cast<int>(SendValue(child, CB_GETCURSEL)),
                        count, enabled));
            for (int row = 0; row < count; ++row) {
                Line(Format("combo %d row %d: ", id, row) + RowText(child, CB_GETLBTEXTLEN, CB_GETLBTEXT, row));
            }
        } else if (cls == "Edit") {
            Line(Format("edit %d: ", id) + Escaped(Text(child)));
        } else if (cls == "msctls_statusbar32") {
            // The status bar answers WM_GETTEXT with its first part.
            Line(Format("status %d: ", id) + Escaped(Text(child)));
        } else if (cls == "msctls_progress32") {
            Line(Format("progress %d pos=%d max=%d", id, static_cast<int>(SendValue(child, PBM_GETPOS)),
                        static_cast<int>(SendValue(child, PBM_GETRANGE, FALSE, 0))));
        } else if (cls == "Static" && (Style(child) & SS_TYPEMASK) != SS_ICON && id != -1) {
            Line(Format("static %d: ", id) + Escaped(Text(child)));
        }
    }
}

// dump WHICH: the dialog's title, focus and controls.
int CommandDump(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    if (dialog == nullptr) return 1;
    DumpDialog(dialog);
    return 0;
}

// click WHICH ID: a synchronous click, for buttons whose command returns at once.
int CommandClick(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    HWND button = dialog ? RequireControl(dialog, ToInt(a[1])) : nullptr;
    if (button == nullptr) return 1;
    if (!Send(button, BM_CLICK, 0, 0)) return Fail("the click was not handled in time");
    return 0;
}

// press WHICH ID: a posted click, for buttons that open a modal window.
int CommandPress(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    HWND button = dialog ? RequireControl(dialog, ToInt(a[1])) : nullptr;
    if (button == nullptr) return 1;
    if (!PostMessageW(button, BM_CLICK, 0, 0)) return Fail("cannot post the click");
    return 0;
}

// command WHICH ID [CODE]: a posted WM_COMMAND, as a menu or accelerator sends it.
int CommandCommand(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    if (dialog == nullptr) return 1;
    const WORD code = a.size() > 2 ? static_cast<WORD>(ToInt(a[2])) : 0;
    if (!PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(ToInt(a[1]), code), 0)) return Fail("cannot post the command");
    return 0;
}

// menu ID: a menu command to the main dialog (104 About, 105 Exit).
int CommandMenu(const Args& a) { return CommandCommand({"main", a[0]}); }

// select-list WHICH ID ROW / select-combo WHICH ID ROW: selects a row and
// sends the selection-change notification a user's selection sends.
int Select(const Args& a, UINT selectMessage, UINT readMessage, WORD notification) {
    HWND dialog = RequireDialog(a[0]);
    const int id = ToInt(a[1]);
    HWND control = dialog ? RequireControl(dialog, id) : nullptr;
    if (control == nullptr) return 1;
    const int row = ToInt(a[2]);
    SendValue(control, selectMessage, static_cast<WPARAM>(row));
    if (SendValue(control, readMessage) != row) return Fail(Format("cannot select row %d", row));
    if (!Send(dialog, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(control))) {
        return Fail("the notification was not handled in time");
    }
    return 0;
}

int CommandSelectList(const Args& a) { return Select(a, LB_SETCURSEL, LB_GETCURSEL, LBN_SELCHANGE); }
int CommandSelectCombo(const Args& a) { return Select(a, CB_SETCURSEL, CB_GETCURSEL, CBN_SELCHANGE); }

// wait-text WHICH ID TEXT COUNT TIMEOUT_MS: the control's text holds TEXT at
// least COUNT times; prints how many times it does.
int CommandWaitText(const Args& a) {
    const int want = ToInt(a[3]);
    const ULONGLONG end = GetTickCount64() + ToMs(a[4]);
    int count = 0;
    for (;;) {
        HWND dialog = FindDialog(a[0]);
        HWND control = dialog ? Control(dialog, ToInt(a[1])) : nullptr;
        count = control ? CountOf(Text(control), a[2]) : 0;
        if (count >= want) break;
        if (GetTickCount64() >= end) {
            Line(Format("count: %d", count));
            return Fail(Format("timed out waiting for %d times ", want) + a[2]);
        }
        Sleep(kPollMs);
    }
    Line(Format("count: %d", count));
    return 0;
}

// wait-enabled WHICH ID 0|1 TIMEOUT_MS
int CommandWaitEnabled(const Args& a) {
    const bool want = ToInt(a[2]) != 0;
    const ULONGLONG end = GetTickCount64() + ToMs(a[3]);
    for (;;) {
        HWND dialog = FindDialog(a[0]);
        HWND control = dialog ? Control(dialog, ToInt(a[1])) : nullptr;
        if (control != nullptr && (IsWindowEnabled(control) != FALSE) == want) return 0;
        if (GetTickCount64() >= end) return Fail("timed out waiting for the enabled state");
        Sleep(kPollMs);
    }
}

// marker WHICH ID TEXT TIMEOUT_MS: posts TEXT as typed characters to an edit
// control and waits until the edit shows it. The program's thread handles its
// posted messages in order, so once the marker shows, every message posted to
// that thread before it has been handled.
int CommandMarker(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    HWND edit = dialog ? RequireControl(dialog, ToInt(a[1])) : nullptr;
    if (edit == nullptr) return 1;
    const int before = CountOf(Text(edit), a[2]);
    for (wchar_t c : Wide(a[2])) PostMessageW(edit, WM_CHAR, c, 1);
    const ULONGLONG end = GetTickCount64() + ToMs(a[3]);
    while (CountOf(Text(edit), a[2]) <= before) {
        if (GetTickCount64() >= end) return Fail("the marker did not arrive");
        Sleep(kPollMs);
    }
    return 0;
}

// answer TEXT BUTTON TIMEOUT_MS: waits for a message box whose text holds
// TEXT, describes it and presses BUTTON (ok, cancel, yes, no; "none" leaves
// it open). Fails if the box has no such button.
int CommandAnswer(const Args& a) {
    const std::string part = a[0];
    HWND box = WaitFor(
        [&]() -> HWND {
            for (HWND candidate : MessageBoxes()) {
                if (BoxText(candidate).find(part) != std::string::npos) return candidate;
            }
            return nullptr;
        },
        ToMs(a[2]));
    if (box == nullptr) {
        for (HWND other : MessageBoxes()) Line("open box: " + Escaped(BoxText(other)));
        return Fail("timed out waiting for a message box with " + part);
    }
    DescribeBox(box);
    if (a[1] == "none") return 0;
    const int id = ButtonId(a[1]);
    HWND button = nullptr;
    for (HWND child : Children(box)) {
        if (ClassName(child) == "Button" && ControlId(child) == id) button = child;
    }
    if (button == nullptr) return Fail("the box has no button " + a[1]);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    const ULONGLONG end = GetTickCount64() + 5000;
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount64() >= end) return Fail("the box did not close");
        Sleep(kPollMs);
    }
    return 0;
}

// boxes: describes every open message box; fails if there is one.
int CommandBoxes(const Args&) {
    const std::vector<HWND> boxes = MessageBoxes();
    for (HWND box : boxes) DescribeBox(box);
    return boxes.empty() ? 0 : Fail(Format("%d message box(es) open", static_cast<int>(boxes.size())));
}

// watchdog SECONDS LIFETIME_SECONDS: fails as soon as a message box has stayed
// open for SECONDS, after describing it; succeeds when the lifetime ends.
int CommandWatchdog(const Args& a) {
    const ULONGLONG limit = ToMs(a[0]) * 1000ull;
    const ULONGLONG end = GetTickCount64() + ToMs(a[1]) * 1000ull;
    std::map<HWND, ULONGLONG> firstSeen;
    while (GetTickCount64() < end) {
        const ULONGLONG now = GetTickCount64();
        std::map<HWND, ULONGLONG> seen;
        for (HWND box : MessageBoxes()) {
            auto known = firstSeen.find(box);
            seen[box] = known == firstSeen.end() ? now : known->second;
            if (now - seen[box] >= limit) {
                Line("stray message box:");
                DescribeBox(box);
                return 1;
            }
        }
        firstSeen = seen;
        Sleep(200);
    }
    return 0;
}

// device-change arrival|removal [usb|volume]: sends WM_DEVICECHANGE to the
// main dialog as the system broadcasts it (default: a USB device interface). Such a message carries a pointer, so it
// is sent (it cannot be posted).
int CommandDeviceChange(const Args& a) {
    HWND dialog = RequireDialog("main");
    if (dialog == nullptr) return 1;
    const WPARAM event = a[0] == "arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    LRESULT handled = 0;
    bool sent = false;
    if (a.size() > 1 && a[1] == "volume") {
        DEV_BROADCAST_VOLUME volume{};
        volume.dbcv_size = sizeof volume;
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 1u << 5;  // F:
        sent = Send(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(&volume), &handled);
    } else {
        static const wchar_t name[] = L"\\\\?\\USB#VID_3F2C&PID_4104#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
        std::vector<BYTE> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + sizeof name);
        auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
        header->dbcc_size = static_cast<DWORD>(buffer.size());
        header->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        header->dbcc_classguid = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
        std::memcpy(header->dbcc_name, name, sizeof name);
        sent = Send(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(buffer.data()), &handled);
    }
    if (!sent) return Fail(Format("WM_DEVICECHANGE not delivered (%lu)", GetLastError()));
    return 0;
}

// comdb-get: the claimed numbers and the first free number from COM3.
int CommandComDbGet(const Args&) {
    std::vector<bool> claimed;
    if (!ReadComDb(&claimed)) return Fail("cannot read the COM database");
    Line("claimed: " + NumberList(claimed));
    Line(Format("first-free: %d", FirstFreeFrom3(claimed)));
    return 0;
}

// comdb-set LIST: replaces the database with 256 numbers, LIST claimed
// ("1,3-17,20" or "none").
int CommandComDbSet(const Args& a) {
    std::vector<bool> claimed;
    if (!ParseNumberList(a[0], &claimed)) {
        Line("error: bad number list " + a[0]);
        return 2;
    }
    return WriteComDb(claimed) ? 0 : Fail("cannot write the COM database");
}

// number-list WHICH ID: every row of a number list reads "COM<n> In use" for
// a number claimed in the database and "COM<n>" otherwise.
int CommandNumberList(const Args& a) {
    HWND dialog = RequireDialog(a[0]);
    HWND combo = dialog ? RequireControl(dialog, ToInt(a[1])) : nullptr;
    if (combo == nullptr) return 1;
    std::vector<bool> claimed;
    if (!ReadComDb(&claimed)) return Fail("cannot read the COM database");
    const int count = static_cast<int>(SendValue(combo, CB_GETCOUNT));
    if (count != kComNumbers) return Fail(Format("%d rows", count));
    int wrong = 0;
    for (int row = 0; row < count; ++row) {
        const int n = row + 1;
        const std::string want = Format(claimed[static_cast<size_t>(n)] ? "COM%d In use" : "COM%d", n);
        const std::string got = RowText(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, row);
        if (got != want) {
            Line(Format("row %d: ", row) + got + " (expected " + want + ")");
            ++wrong;
        }
    }
    return wrong == 0 ? 0 : Fail(Format("%d rows disagree with the COM database", wrong));
}

// The number a port reports: its "number", else the digits its name ends in.
int PortNumber(const nlohmann::json& port) {
    if (port.contains("number")) return port["number"].get<int>();
    const std::string name = port.value("name", "");
    size_t digits = name.size();
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    return digits < name.size() ? std::atoi(name.c_str() + digits) : 0;
}

// cards FILE: the ports of a card description, one line each: name, number
// and description.
int CommandCards(const Args& a) {
    std::ifstream file(Wide(a[0]).c_str(), std::ios::binary);
    if (!file) return Fail("cannot open " + a[0]);
    nlohmann::json cards = nlohmann::json::parse(file, nullptr, false, true);
    if (cards.is_discarded() || !cards.contains("cards")) return Fail("not a card description: " + a[0]);
    int c = 0;
    for (const auto& card : cards["cards"]) {
        int p = 0;
        for (const auto& port : card["ports"]) {
            Line(Format("card %d port %d: ", c, p) + port.value("name", "") + Format(" %d ", PortNumber(port)) +
                 port.value("description", ""));
            ++p;
        }
        ++c;
    }
    return 0;
}

// ---- layout ----

const char* ExpectedClass(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
    case ControlKind::Icon: return "Static";
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::AutoRadio:
    case ControlKind::AutoCheck: return "Button";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::Edit: return "Edit";
    case ControlKind::Progress: return "msctls_progress32";
    case ControlKind::StatusBar: return "msctls_statusbar32";
    }
    return "";
}

// Controls whose text the program sets at run time (the log, the status bar).
bool HasRuntimeText(int templateId, int id) {
    return templateId == IDD_MAIN && (id == IDC_LOG || id == IDC_STATUS);
}

// Style bits that legitimately change while the program runs.
DWORD RuntimeStyleBits(const ControlLayout& c, bool focusOnPushButton) {
    DWORD mask = WS_DISABLED;  // enabling is program state, checked on its own
    switch (c.kind) {
    case ControlKind::AutoRadio:
        // A radio button takes WS_TABSTOP when checked and drops it when
        // unchecked, so the tab key reaches the checked one of its group.
        mask |= WS_TABSTOP;
        break;
    case ControlKind::ListBox:
        // A list box shows its scroll bar, and sets the bit, while rows overflow.
        mask |= WS_VSCROLL;
        break;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
        // While a push button has the focus, the dialog manager shows it as
        // the default button and the template's default as a plain one.
        if (focusOnPushButton) mask |= BS_DEFPUSHBUTTON;
        break;
    default:
        break;
    }
    return mask;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Edges the tables do not hold: bordered controls get the client edge (the
// dialog manager's form of WS_BORDER); the progress bar and the usage warning
// have a static edge.
DWORD ExpectedEdges(int templateId, int id) {
    if (templateId == IDD_MAIN &&
        (id == IDC_HELP_TEXT || id == IDC_ADAPTER_LIST || id == IDC_PORT_LIST || id == IDC_LOG)) {
        return WS_EX_CLIENTEDGE;
    }
    if ((templateId == IDD_MAIN && id == IDC_PROGRESS) || (templateId == IDD_USAGE && id == IDC_USAGE_WARNING)) {
        return WS_EX_STATICEDGE;
    }
    return 0;
}

// layout TEMPLATE PROGRAM: the shown dialog of TEMPLATE against its table.
// Dialog units become pixels as the dialog manager maps them for this
// template; MapDialogRect does not work on another process's dialog, so a
// hidden twin is created here from the template in PROGRAM (the program's own
// file) and mapped instead, and the real dialog's client size must match it.
int CommandLayout(const Args& a) {
    const int templateId = ToInt(a[0]);
    const DialogLayout* layout = FindDialogLayout(templateId);
    if (layout == nullptr) return Fail("no table for template " + a[0]);
    const char* which = templateId == IDD_MAIN ? "main" : templateId == IDD_USAGE ? "usage" : "about";
    HWND dialog = RequireDialog(which);
    if (dialog == nullptr) return 1;

    HMODULE program = LoadLibraryExW(Wide(a[1]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (program == nullptr) return Fail(Format("cannot load %s (%lu)", a[1].c_str(), GetLastError()));
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    HWND twin = CreateDialogParamW(program, MAKEINTRESOURCEW(templateId), nullptr, InertDialogProc, 0);
    if (twin == nullptr) return Fail(Format("cannot create template %d from %s (%lu)", templateId, a[1].c_str(), GetLastError()));
    auto pixels = [&](int x, int y, int width, int height) {
        RECT r{x, y, width, height};
        MapDialogRect(twin, &r);
        return r;
    };

    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) {
            Line("mismatch: " + what);
            ++failures;
        }
    };

    // The dialog itself. The main dialog's caption is the versioned title,
    // set at start-up and checked with the initial state.
    if (templateId != IDD_MAIN) check(Caption(dialog) == layout->caption, "caption " + Caption(dialog));
    const DWORD dialogStyle = Style(dialog);
    check((dialogStyle & layout->style) == layout->style, Format("dialog style %08lx lacks %08lx",
                                                                  dialogStyle, layout->style & ~dialogStyle));
    RECT client;
    GetClientRect(dialog, &client);
    const RECT size = pixels(0, 0, layout->width, layout->height);
    check(client.right == size.right && client.bottom == size.bottom,
          Format("client %ldx%ld, table %ldx%ld", client.right, client.bottom, size.right, size.bottom));

    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    bool focusOnPushButton = false;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus != nullptr &&
        GetParent(gui.hwndFocus) == dialog && ClassName(gui.hwndFocus) == "Button") {
        const DWORD type = Style(gui.hwndFocus) & BS_TYPEMASK;
        focusOnPushButton = type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
    }

    const std::vector<HWND> children = Children(dialog);
    check(children.size() == layout->controls.size(),
          Format("%d child windows, table %d", static_cast<int>(children.size()),
                 static_cast<int>(layout->controls.size())));
    const size_t rows = std::min(children.size(), layout->controls.size());
    for (size_t i = 0; i < rows; ++i) {
        const ControlLayout& c = layout->controls[i];
        HWND control = children[i];
        const std::string where = Format("row %d id %d ", static_cast<int>(i), c.id) + c.text + ": ";
        check(ControlId(control) == c.id, where + Format("id %d", ControlId(control)));
        check(ClassName(control) == ExpectedClass(c.kind), where + "class " + ClassName(control));
        const DWORD mask = ~RuntimeStyleBits(c, focusOnPushButton);
        check((Style(control) & mask) == (c.style & mask), where + Format("style %08lx, table %08x", Style(control), c.style));
        const DWORD edges = ExpectedEdges(templateId, c.id);
        check((ExStyle(control) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE)) == edges,
              where + Format("extended style %08lx", ExStyle(control)));
        if (c.kind != ControlKind::Icon && c.kind != ControlKind::ComboBox && !HasRuntimeText(templateId, c.id)) {
            check(Text(control) == c.text, where + "text " + Escaped(Text(control)));
        }
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        const RECT want = pixels(c.x, c.y, c.width, c.height);
        std::string got = Format("at %ld,%ld size %ldx%ld, table %ld,%ld size %ldx%ld", r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, want.left, want.top, want.right, want.bottom);
        check(r.left == want.left && r.top == want.top, where + got);
        if (c.kind == ControlKind::Icon) {
            // An icon static takes the size of its icon.
            check(r.right - r.left == GetSystemMetrics(SM_CXICON) && r.bottom - r.top == GetSystemMetrics(SM_CYICON),
                  where + got);
        } else if (c.kind == ControlKind::ComboBox) {
            // The window is the closed combo; the table's height is the open list's.
            check(r.right - r.left == want.right, where + got);
        } else {
            check(r.right - r.left == want.right && r.bottom - r.top == want.bottom, where + got);
        }
    }
    DestroyWindow(twin);
    FreeLibrary(program);
    if (failures != 0) return Fail(Format("template %d: %d mismatches", templateId, failures));
    Line(Format("layout %d: %d controls match", templateId, static_cast<int>(rows)));
    return 0;
}

// ---- command table ----

struct Command {
    const char* name;
    size_t arguments;
    int (*run)(const Args&);
    const char* usage;
};

const Command kCommands[] = {
    {"wait", 2, CommandWait, "wait main|usage|about|TITLE-PREFIX TIMEOUT_MS"},
    {"wait-gone", 2, CommandWaitGone, "wait-gone main|usage|about|TITLE-PREFIX TIMEOUT_MS"},
    {"layout", 2, CommandLayout, "layout TEMPLATE PROGRAM-FILE"},
    {"dump", 1, CommandDump, "dump main|usage|about"},
    {"click", 2, CommandClick, "click DIALOG ID"},
    {"press", 2, CommandPress, "press DIALOG ID"},
    {"command", 2, CommandCommand, "command DIALOG ID [CODE]"},
    {"menu", 1, CommandMenu, "menu ID"},
    {"select-list", 3, CommandSelectList, "select-list DIALOG ID ROW"},
    {"select-combo", 3, CommandSelectCombo, "select-combo DIALOG ID ROW"},
    {"wait-text", 5, CommandWaitText, "wait-text DIALOG ID TEXT COUNT TIMEOUT_MS"},
    {"wait-enabled", 4, CommandWaitEnabled, "wait-enabled DIALOG ID 0|1 TIMEOUT_MS"},
    {"marker", 4, CommandMarker, "marker DIALOG EDIT-ID TEXT TIMEOUT_MS"},
    {"answer", 3, CommandAnswer, "answer TEXT ok|cancel|yes|no|none TIMEOUT_MS"},
    {"boxes", 0, CommandBoxes, "boxes"},
    {"watchdog", 2, CommandWatchdog, "watchdog SECONDS LIFETIME_SECONDS"},
    {"device-change", 1, CommandDeviceChange, "device-change arrival|removal [usb|volume]"},
    {"comdb-get", 0, CommandComDbGet, "comdb-get"},
    {"comdb-set", 1, CommandComDbSet, "comdb-set none|LIST (e.g. 1,3-17,20)"},
    {"number-list", 2, CommandNumberList, "number-list DIALOG ID"},
    {"cards", 1, CommandCards, "cards FILE"},
};

int Usage() {
    Line("usage: kestrova_driver COMMAND ARGS...");
    for (const Command& c : kCommands) Line(std::string("  ") + c.usage);
    return 2;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2) return Usage();
    const std::string name = Utf8(arguments[1]);
    Args args;
    for (int i = 2; i < count; ++i) args.push_back(Utf8(arguments[i]));
    LocalFree(arguments);
    for (const Command& c : kCommands) {
        if (name != c.name) continue;
        // Optional trailing arguments are allowed, never missing ones.
        if (args.size() < c.arguments) return Usage();
        return c.run(args);
    }
    return Usage();
}

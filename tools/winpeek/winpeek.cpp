// winpeek: reads and operates the program's windows from outside, as a user
// would, for the demo, the black-box tests and the benchmark under Wine (whose
// timing commands live in bench/wine/). It runs in the program's prefix and on
// its display. Not shipped.
//
// Output is UTF-8, one fact a line. Exit code 0 on success, 1 when a check
// fails or a wait times out, 2 for a bad command line. Every wait is bounded.
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/winpeek/dialog_check.h"

// The Wine benchmark's measurements (bench/wine/timing.cpp).
int BenchLaunch(const std::vector<std::string>& args);
int BenchEnumerate(const std::vector<std::string>& args);

namespace {

using namespace peek;
using Args = std::vector<std::string>;

void Line(const std::string& text) {
    const std::string bytes = text + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int Fail(const std::string& text) {
    Line("error: " + text);
    return 1;
}

std::wstring Wide(const std::string& text) {
    std::wstring out(text.size(), L'\0');
    out.resize(
        static_cast<size_t>(std::max(0, MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                            out.data(), static_cast<int>(out.size())))));
    return out;
}

// Line breaks written as escapes, so that every text is one line.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); !part.empty() && at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

int ToInt(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 0)); }
ULONGLONG Deadline(const std::string& ms) { return GetTickCount64() + std::strtoull(ms.c_str(), nullptr, 0); }

std::string Caption(HWND window) {
    wchar_t text[512] = {};
    InternalGetWindowText(window, text, 512);
    return peek::Utf8(text);
}

// ---- the program's windows ----

const char* const kMain = "Kestrova V120";
const char* const kUsage = "Com Port Num Usage Manager(COMDB)";
const char* const kAbout = "关于 Kestrova";

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    if (IsWindowVisible(window) && ClassName(window) == "#32770") {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    }
    return TRUE;
}

// Every shown dialog window of the desktop, message boxes included.
std::vector<HWND> Dialogs() {
    std::vector<HWND> found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

// "main", "usage", "about", or a title prefix.
HWND FindDialog(const std::string& which) {
    const std::string prefix = which == "main" ? kMain : which == "usage" ? kUsage : which == "about" ? kAbout : which;
    for (HWND window : Dialogs()) {
        if (Caption(window).rfind(prefix, 0) == 0)
            return window;
    }
    return nullptr;
}

// Message boxes: shown dialogs that are none of the program's three.
std::vector<HWND> MessageBoxes() {
    std::vector<HWND> boxes;
    for (HWND window : Dialogs()) {
        const std::string title = Caption(window);
        if (title.rfind(kMain, 0) != 0 && title != kUsage && title != kAbout)
            boxes.push_back(window);
    }
    return boxes;
}

// The control ID (0: the dialog itself) of dialog WHICH, or nullptr.
HWND Find(const std::string& which, int id) {
    HWND dialog = FindDialog(which);
    return dialog == nullptr || id == 0 ? dialog : GetDlgItem(dialog, id);
}

HWND Require(const std::string& which, int id) {
    HWND control = Find(which, id);
    if (control == nullptr)
        Fail("no dialog " + which + " with control " + std::to_string(id));
    return control;
}

// Polls until `done` holds or the deadline passes.
template <typename Done>
bool WaitUntil(ULONGLONG deadline, Done done) {
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(50);
    }
}

// ---- message boxes ----

const std::pair<int, const char*> kButtons[] = {{IDOK, "ok"}, {IDCANCEL, "cancel"}, {IDYES, "yes"}, {IDNO, "no"}};

std::string BoxText(HWND box) { return Text(GetDlgItem(box, 0xFFFF)); }

void DescribeBox(HWND box) {
    Line("caption: " + Caption(box));
    Line("text: " + Escaped(BoxText(box)));
    std::string names;
    for (const auto& [id, name] : kButtons) {
        HWND button = GetDlgItem(box, id);
        if (button != nullptr && IsWindowVisible(button))
            names += std::string(names.empty() ? "" : ",") + name;
    }
    Line("buttons: " + names);
}

// ---- the COM port database: the registry value Windows keeps it in ----

constexpr int kNumbers = 4096;  // the biggest database; a new one holds 256
const wchar_t* const kComDbKey = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

// claimed[n] for COMn; no value yet means all free.
bool ReadComDb(std::vector<bool>* claimed) {
    claimed->assign(kNumbers + 1, false);
    BYTE bits[512] = {};
    DWORD size = sizeof bits;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, kComDbKey, L"ComDB", RRF_RT_REG_BINARY, nullptr, bits, &size);
    for (int n = 1; status == ERROR_SUCCESS && n <= kNumbers && static_cast<DWORD>((n - 1) / 8) < size; ++n) {
        (*claimed)[static_cast<size_t>(n)] = (bits[(n - 1) / 8] >> ((n - 1) % 8)) & 1;
    }
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// comdb [LIST [NUMBERS]]: with LIST ("1,3-17,20" or "none") replaces the
// database, of NUMBERS numbers (256, the default, to 4096); prints the
// claimed numbers and the first free one from COM3.
int CommandComDb(const Args& a) {
    if (!a.empty()) {
        BYTE bits[kNumbers / 8] = {};
        const long size = a.size() > 1 ? std::strtol(a[1].c_str(), nullptr, 10) : 256;
        if (size < 256 || size > kNumbers || size % 256 != 0) {
            Line("error: bad database size " + a[1]);
            return 2;
        }
        for (const char* p = a[0].c_str(); a[0] != "none" && *p != '\0';) {
            char* end = nullptr;
            const long first = std::strtol(p, &end, 10);
            const long last = *end == '-' ? std::strtol(end + 1, &end, 10) : first;
            if (first < 1 || last > size || first > last || (*end != ',' && *end != '\0')) {
                Line("error: bad number list " + a[0]);
                return 2;
            }
            for (long n = first; n <= last; ++n)
                bits[(n - 1) / 8] |= static_cast<BYTE>(1u << ((n - 1) % 8));
            p = *end == ',' ? end + 1 : end;
        }
        if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, kComDbKey, L"ComDB", REG_BINARY, bits, static_cast<DWORD>(size / 8)) !=
            ERROR_SUCCESS) {
            return Fail("cannot write the COM database");
        }
    }
    std::vector<bool> claimed;
    if (!ReadComDb(&claimed))
        return Fail("cannot read the COM database");
    std::string list;
    int firstFree = 0;
    for (int n = 1; n <= kNumbers; ++n) {
        if (!claimed[static_cast<size_t>(n)]) {
            if (firstFree == 0 && n >= 3)
                firstFree = n;
            continue;
        }
        int last = n;
        while (last < kNumbers && claimed[static_cast<size_t>(last + 1)])
            ++last;
        list.append(list.empty() ? "" : ",").append(std::to_string(n));
        if (last != n)
            list.append("-").append(std::to_string(last));
        n = last;
    }
    Line("claimed: " + (list.empty() ? std::string("none") : list));
    Line("first-free: " + std::to_string(firstFree));
    return 0;
}

// number-list WHICH ID: every row of a number list reads "COM<n> In use" for
// a number claimed in the database and "COM<n>" otherwise.
int CommandNumberList(const Args& a) {
    HWND combo = Require(a[0], ToInt(a[1]));
    std::vector<bool> claimed;
    if (combo == nullptr || !ReadComDb(&claimed))
        return Fail("cannot compare");
    constexpr int rows = 256;  // whatever the database's size
    if (Value(combo, CB_GETCOUNT) != rows)
        return Fail("not 256 rows");
    int wrong = 0;
    for (int n = 1; n <= rows; ++n) {
        const std::string want = "COM" + std::to_string(n) + (claimed[static_cast<size_t>(n)] ? " In use" : "");
        const std::string got = Text(combo, CB_GETLBTEXTLEN, CB_GETLBTEXT, n - 1);
        if (got != want)
            Line("row " + std::to_string(n - 1) + ": " + got + " (expected " + want + ")");
        wrong += got != want;
    }
    return wrong == 0 ? 0 : Fail(std::to_string(wrong) + " rows disagree with the COM database");
}

// ---- commands ----

// wait WHICH MS: a dialog shows; prints its title.
int CommandWait(const Args& a) {
    HWND dialog = nullptr;
    if (!WaitUntil(Deadline(a[1]), [&] { return (dialog = FindDialog(a[0])) != nullptr; })) {
        return Fail("timed out waiting for " + a[0]);
    }
    Line("title: " + Caption(dialog));
    return 0;
}

// gone WHICH MS: no such dialog shows any more.
int CommandGone(const Args& a) {
    return WaitUntil(Deadline(a[1]), [&] { return FindDialog(a[0]) == nullptr; }) ? 0 : Fail(a[0] + " still shows");
}

// dump WHICH: the title and the state of the controls a user reads.
int CommandDump(const Args& a) {
    HWND dialog = Require(a[0], 0);
    if (dialog == nullptr)
        return 1;
    Line("title: " + Caption(dialog));
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string id = std::to_string(ControlId(child));
        const std::string cls = ClassName(child);
        const std::string enabled = " enabled=" + std::to_string(IsWindowEnabled(child) ? 1 : 0);
        if (cls == "Button" && (Style(child) & BS_TYPEMASK) != BS_GROUPBOX) {
            Line("button " + id + " checked=" + std::to_string(Value(child, BM_GETCHECK) == BST_CHECKED) + enabled +
                 " text: " + Text(child));
        } else if (cls == "ListBox" || cls == "ComboBox") {
            const bool list = cls == "ListBox";
            const std::string kind = list ? "list " : "combo ";
            const LRESULT rows = Value(child, list ? LB_GETCOUNT : CB_GETCOUNT);
            Line(kind + id + " sel=" + std::to_string(Value(child, list ? LB_GETCURSEL : CB_GETCURSEL)) +
                 " count=" + std::to_string(rows) + enabled);
            for (int row = 0; row < rows; ++row) {
                Line(kind + id + " row " + std::to_string(row) + ": " +
                     Text(child, list ? LB_GETTEXTLEN : CB_GETLBTEXTLEN, list ? LB_GETTEXT : CB_GETLBTEXT, row));
            }
        } else if (cls == "Edit" || cls == "msctls_statusbar32") {
            // The status bar answers WM_GETTEXT with its first part.
            Line((cls == "Edit" ? "edit " : "status ") + id + ": " + Escaped(Text(child)));
        }
    }
    return 0;
}

// click WHICH ID: a sent click, for buttons that return at once.
int CommandClick(const Args& a) {
    HWND button = Require(a[0], ToInt(a[1]));
    return button != nullptr && Send(button, BM_CLICK, 0, 0) ? 0 : Fail("the click was not handled");
}

// press WHICH ID: a posted click, for buttons that open a modal window.
int CommandPress(const Args& a) {
    HWND button = Require(a[0], ToInt(a[1]));
    return button != nullptr && PostMessageW(button, BM_CLICK, 0, 0) ? 0 : Fail("cannot click");
}

// post WHICH ID|close: a WM_COMMAND as a menu or an accelerator sends it, or
// WM_CLOSE.
int CommandPost(const Args& a) {
    HWND dialog = Require(a[0], 0);
    const bool close = a[1] == "close";
    if (dialog == nullptr || !PostMessageW(dialog, close ? WM_CLOSE : WM_COMMAND, close ? 0 : ToInt(a[1]), 0)) {
        return Fail("cannot post");
    }
    return 0;
}

// select WHICH ID ROW: selects a row of a list or combo box and notifies the
// dialog as a user's choice does.
int CommandSelect(const Args& a) {
    const int id = ToInt(a[1]);
    const int row = ToInt(a[2]);
    HWND control = Require(a[0], id);
    if (control == nullptr)
        return 1;
    const bool list = ClassName(control) == "ListBox";
    Value(control, list ? LB_SETCURSEL : CB_SETCURSEL, static_cast<WPARAM>(row));
    if (Value(control, list ? LB_GETCURSEL : CB_GETCURSEL) != row)
        return Fail("cannot select row " + a[2]);
    const WPARAM notify = MAKEWPARAM(id, list ? LBN_SELCHANGE : CBN_SELCHANGE);
    return Send(GetParent(control), WM_COMMAND, notify, reinterpret_cast<LPARAM>(control)) ? 0 : Fail("no answer");
}

// wait-text WHICH ID TEXT COUNT MS: the control's text holds TEXT at least
// COUNT times.
int CommandWaitText(const Args& a) {
    int count = 0;
    const bool done = WaitUntil(Deadline(a[4]), [&] {
        HWND control = Find(a[0], ToInt(a[1]));
        return (count = control ? CountOf(Text(control), a[2]) : 0) >= ToInt(a[3]);
    });
    Line("count: " + std::to_string(count));
    return done ? 0 : Fail("timed out waiting for " + a[3] + " times " + a[2]);
}

// wait-enabled WHICH ID MS
int CommandWaitEnabled(const Args& a) {
    HWND control = nullptr;
    const bool done =
        WaitUntil(Deadline(a[2]), [&] { return (control = Find(a[0], ToInt(a[1]))) && IsWindowEnabled(control); });
    return done ? 0 : Fail("control " + a[1] + " stays disabled");
}

// marker WHICH ID TEXT MS: types TEXT into an edit control and waits until it
// shows. The program's thread handles its posted messages in order, so then
// every message posted to it before has been handled.
int CommandMarker(const Args& a) {
    HWND edit = Require(a[0], ToInt(a[1]));
    if (edit == nullptr)
        return 1;
    const int before = CountOf(Text(edit), a[2]);
    for (wchar_t c : Wide(a[2]))
        PostMessageW(edit, WM_CHAR, c, 1);
    return WaitUntil(Deadline(a[3]), [&] { return CountOf(Text(edit), a[2]) > before; }) ? 0 : Fail("no marker");
}

// answer TEXT BUTTON MS: waits for a message box whose text holds TEXT,
// describes it and presses BUTTON ("none" leaves it open).
int CommandAnswer(const Args& a) {
    HWND box = nullptr;
    const bool found = WaitUntil(Deadline(a[2]), [&] {
        for (HWND candidate : MessageBoxes()) {
            if (BoxText(candidate).find(a[0]) != std::string::npos)
                box = candidate;
        }
        return box != nullptr;
    });
    if (!found) {
        for (HWND other : MessageBoxes())
            Line("open box: " + Escaped(BoxText(other)));
        return Fail("no message box with " + a[0]);
    }
    DescribeBox(box);
    if (a[1] == "none")
        return 0;
    const auto* button =
        std::find_if(std::begin(kButtons), std::end(kButtons), [&](auto& b) { return a[1] == b.second; });
    HWND control = button == std::end(kButtons) ? nullptr : GetDlgItem(box, button->first);
    if (control == nullptr)
        return Fail("the box has no button " + a[1]);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button->first, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return WaitUntil(GetTickCount64() + 5000, [&] { return !IsWindowVisible(box); }) ? 0 : Fail("the box stays");
}

// watchdog SECONDS LIFETIME: fails as soon as a message box has stayed open
// for SECONDS, after describing it; succeeds when LIFETIME seconds end.
// "watchdog 0 0" fails on any box open now.
int CommandWatchdog(const Args& a) {
    const ULONGLONG limit = std::strtoull(a[0].c_str(), nullptr, 0) * 1000;
    const ULONGLONG end = GetTickCount64() + std::strtoull(a[1].c_str(), nullptr, 0) * 1000;
    std::map<HWND, ULONGLONG> firstSeen;
    for (ULONGLONG now = GetTickCount64(); now <= end; Sleep(200), now = GetTickCount64()) {
        std::map<HWND, ULONGLONG> seen;
        for (HWND box : MessageBoxes()) {
            seen[box] = firstSeen.count(box) ? firstSeen[box] : now;
            if (now - seen[box] >= limit) {
                Line("stray message box:");
                DescribeBox(box);
                return 1;
            }
        }
        firstSeen = seen;
    }
    return 0;
}

// device-change arrival|removal: WM_DEVICECHANGE to the main dialog as the
// system broadcasts it for a USB device interface. It carries a pointer, so
// it is sent: it cannot be posted.
int CommandDeviceChange(const Args& a) {
    HWND dialog = Require("main", 0);
    if (dialog == nullptr)
        return 1;
    const WPARAM event = a[0] == "arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    static const wchar_t name[] = L"\\\\?\\USB#VID_3F2C&PID_4104#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    BYTE buffer[sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + sizeof name] = {};
    auto* usb = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer);
    usb->dbcc_size = sizeof buffer;
    usb->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    usb->dbcc_classguid = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    std::memcpy(usb->dbcc_name, name, sizeof name);
    return Send(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(buffer)) ? 0 : Fail("not delivered");
}

// process WHICH: "BITS IMAGE" of the dialog's process. winpeek runs as the
// program's build does: 64-bit in the WoW64 prefix, where an emulated process
// is 32-bit, and 32-bit in the 32-bit prefix.
int CommandProcess(const Args& a) {
    HWND dialog = Require(a[0], 0);
    DWORD pid = 0;
    if (dialog == nullptr || GetWindowThreadProcessId(dialog, &pid) == 0)
        return 1;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    BOOL emulated = FALSE;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    const bool ok = process != nullptr && IsWow64Process(process, &emulated) &&
                    QueryFullProcessImageNameW(process, 0, image, &size);
    if (process != nullptr)
        CloseHandle(process);
    if (!ok)
        return Fail("cannot query the process of " + a[0]);
    Line((emulated || sizeof(void*) == 4 ? "32 " : "64 ") + peek::Utf8(image));
    return 0;
}

// layout TEMPLATE PROGRAM: the shown dialog of TEMPLATE against its table;
// dialog units are mapped through a hidden twin made from PROGRAM's own
// template.
INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

int CommandLayout(const Args& a) {
    const int templateId = ToInt(a[0]);
    const DialogLayout* layout = FindDialogLayout(templateId);
    HWND dialog = Require(templateId == IDD_MAIN ? "main" : templateId == IDD_USAGE ? "usage" : "about", 0);
    HMODULE program =
        LoadLibraryExW(Wide(a[1]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (layout == nullptr || dialog == nullptr || program == nullptr)
        return Fail("no table, dialog or program");
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    HWND twin = CreateDialogParamW(program, MAKEINTRESOURCEW(templateId), nullptr, Inert, 0);
    if (twin == nullptr)
        return Fail("cannot make the template " + a[0]);
    const std::vector<std::string> mismatches = peek::CheckDialog(dialog, twin, *layout, true);
    for (const std::string& m : mismatches)
        Line("mismatch: " + m);
    DestroyWindow(twin);
    FreeLibrary(program);
    return mismatches.empty() ? 0 : Fail("template " + a[0] + " differs from its table");
}

struct Command {
    const char* name;
    size_t arguments;
    int (*run)(const Args&);
};

const Command kCommands[] = {
    {"wait", 2, CommandWait},
    {"gone", 2, CommandGone},
    {"dump", 1, CommandDump},
    {"press", 2, CommandPress},
    {"click", 2, CommandClick},
    {"post", 2, CommandPost},
    {"select", 3, CommandSelect},
    {"wait-text", 5, CommandWaitText},
    {"wait-enabled", 3, CommandWaitEnabled},
    {"marker", 4, CommandMarker},
    {"answer", 3, CommandAnswer},
    {"watchdog", 2, CommandWatchdog},
    {"device-change", 1, CommandDeviceChange},
    {"comdb", 0, CommandComDb},
    {"number-list", 2, CommandNumberList},
    {"process", 1, CommandProcess},
    {"layout", 2, CommandLayout},
    {"launch", 2, BenchLaunch},
    {"enumerate", 1, BenchEnumerate},
};

}  // namespace

int main() {
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    Args args;
    for (int i = 2; argv != nullptr && i < count; ++i)
        args.push_back(peek::Utf8(argv[i]));
    const std::string name = argv != nullptr && count > 1 ? peek::Utf8(argv[1]) : "";
    for (const Command& c : kCommands) {
        if (name == c.name && args.size() >= c.arguments)
            return c.run(args);
    }
    Line("usage: winpeek COMMAND ARGS... (see tools/winpeek/winpeek.cpp)");
    return 2;
}

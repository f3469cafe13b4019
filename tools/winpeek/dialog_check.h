// Reading windows, of this process or another one in the same Wine prefix,
// and comparing a dialog with its layout table. Shared by winpeek (the shipped
// program's windows) and the resource test (dialogs made in its own process).
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "resources/layout.h"

namespace peek {

inline std::string Utf8(const wchar_t* text, size_t length) {
    std::string out;
    if (length == 0)
        return out;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::string Utf8(const wchar_t* text) { return Utf8(text, wcslen(text)); }

// Sent with a bound, so that a program that stopped answering fails the
// command instead of hanging it.
inline bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result = nullptr) {
    DWORD_PTR answer = 0;
    const LRESULT ok = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &answer);
    if (result != nullptr)
        *result = static_cast<LRESULT>(answer);
    return ok != 0;
}

inline LRESULT Value(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    LRESULT result = -1;
    return Send(window, message, wParam, lParam, &result) ? result : -1;
}

// A text read with a buffer of the announced length: Wine fails to carry a
// very large buffer across processes. Also for list and combo rows.
inline std::string Text(HWND window, UINT lengthMessage = WM_GETTEXTLENGTH, UINT textMessage = WM_GETTEXT,
                        int row = -1) {
    const bool isRow = row >= 0;
    const LRESULT length = Value(window, lengthMessage, isRow ? static_cast<WPARAM>(row) : 0);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = 0;
    const WPARAM first = isRow ? static_cast<WPARAM>(row) : text.size();
    if (!Send(window, textMessage, first, reinterpret_cast<LPARAM>(text.data()), &copied))
        return {};
    return Utf8(text.data(), static_cast<size_t>(std::clamp<LRESULT>(copied, 0, length)));
}

inline std::string ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Utf8(name);
}

inline DWORD Style(HWND window) { return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)); }
inline int ControlId(HWND window) { return static_cast<short>(GetWindowLongPtrW(window, GWLP_ID)); }

inline const char* ClassOf(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
    case ControlKind::Icon:
        return "Static";
    case ControlKind::ListBox:
        return "ListBox";
    case ControlKind::ComboBox:
        return "ComboBox";
    case ControlKind::Edit:
        return "Edit";
    case ControlKind::Progress:
        return "msctls_progress32";
    case ControlKind::StatusBar:
        return "msctls_statusbar32";
    default:
        return "Button";
    }
}

// Edges the tables do not hold: bordered controls get the client edge (the
// dialog manager's form of WS_BORDER); the progress bar and the usage warning
// have a static edge.
inline DWORD EdgesOf(int templateId, int id) {
    if (templateId == IDD_MAIN &&
        (id == IDC_HELP_TEXT || id == IDC_ADAPTER_LIST || id == IDC_PORT_LIST || id == IDC_LOG)) {
        return WS_EX_CLIENTEDGE;
    }
    const bool staticEdge =
        (templateId == IDD_MAIN && id == IDC_PROGRESS) || (templateId == IDD_USAGE && id == IDC_USAGE_WARNING);
    return staticEdge ? WS_EX_STATICEDGE : 0;
}

// Style bits a running program legitimately changes: enabling; a radio button
// takes WS_TABSTOP while checked; a list box sets WS_VSCROLL while its rows
// overflow; a push button with the focus is shown as the default one.
inline DWORD RunningBits(ControlKind kind) {
    switch (kind) {
    case ControlKind::AutoRadio:
        return WS_DISABLED | WS_TABSTOP;
    case ControlKind::ListBox:
        return WS_DISABLED | WS_VSCROLL;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
        return WS_DISABLED | BS_DEFPUSHBUTTON;
    default:
        return WS_DISABLED;
    }
}

// The mismatches of `dialog` against the table of its template. Dialog units
// are mapped through `twin`, a dialog made in this process from the same
// template: MapDialogRect does not work on another process's dialog. For a
// `running` program the bits above, the versioned main caption and the texts
// of the log and the status bar are left out.
inline std::vector<std::string> CheckDialog(HWND dialog, HWND twin, const DialogLayout& layout, bool running) {
    std::vector<std::string> out;
    auto pixels = [&](int x, int y, int width, int height) {
        RECT r{x, y, width, height};
        MapDialogRect(twin, &r);
        return r;
    };
    wchar_t caption[256] = {};
    InternalGetWindowText(dialog, caption, 256);
    if (!(running && layout.templateId == IDD_MAIN) && Utf8(caption) != layout.caption) {
        out.push_back("caption " + Utf8(caption));
    }
    if ((Style(dialog) & layout.style) != layout.style)
        out.push_back("dialog style " + std::to_string(Style(dialog)));
    RECT client;
    GetClientRect(dialog, &client);
    const RECT size = pixels(0, 0, layout.width, layout.height);
    if (client.right != size.right || client.bottom != size.bottom)
        out.push_back("client size");

    HWND control = GetWindow(dialog, GW_CHILD);
    for (const ControlLayout& c : layout.controls) {
        const std::string where = "id " + std::to_string(c.id) + " " + c.text + ": ";
        if (control == nullptr) {
            out.push_back(where + "no window");
            break;
        }
        const DWORD mask = running ? ~RunningBits(c.kind) : ~DWORD{0};
        const bool runtimeText = running && layout.templateId == IDD_MAIN && (c.id == IDC_LOG || c.id == IDC_STATUS);
        const DWORD edges =
            static_cast<DWORD>(GetWindowLongW(control, GWL_EXSTYLE)) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE);
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        const RECT want = pixels(c.x, c.y, c.width, c.height);
        const bool icon = c.kind == ControlKind::Icon;
        // An icon static takes the size of its icon; a combo box window is the
        // closed combo, the table's height that of the open list.
        const LONG wantWidth = icon ? GetSystemMetrics(SM_CXICON) : want.right;
        const LONG wantHeight = icon ? GetSystemMetrics(SM_CYICON) : want.bottom;
        const bool placed = r.left == want.left && r.top == want.top && r.right - r.left == wantWidth &&
                            (c.kind == ControlKind::ComboBox || r.bottom - r.top == wantHeight);
        if (ControlId(control) != c.id)
            out.push_back(where + "id " + std::to_string(ControlId(control)));
        if (ClassName(control) != ClassOf(c.kind))
            out.push_back(where + "class " + ClassName(control));
        if ((Style(control) & mask) != (c.style & mask))
            out.push_back(where + "style " + std::to_string(Style(control)));
        if (edges != EdgesOf(layout.templateId, c.id))
            out.push_back(where + "edges " + std::to_string(edges));
        if (icon ? Value(control, STM_GETICON) == 0
                 : c.kind != ControlKind::ComboBox && !runtimeText && Text(control) != c.text) {
            out.push_back(where + "text " + Text(control));
        }
        if (!placed) {
            out.push_back(where + "at " + std::to_string(r.left) + "," + std::to_string(r.top) + " size " +
                          std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top));
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
    if (control != nullptr)
        out.push_back("more windows than table rows");
    return out;
}

}  // namespace peek

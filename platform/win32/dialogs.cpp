// Windows and dialogs: modal and hidden dialogs, timers, message boxes,
// string table entries and the accelerators of a modal dialog.
#include "platform/platform.h"

#include <commctrl.h>
#include <commdlg.h>

#include "platform/win32/win32_internal.h"

using namespace win32;

namespace {

HINSTANCE ProgramModule() { return GetModuleHandleW(nullptr); }

}  // namespace

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

bool AskFilePath(Window owner, bool save, char* path, std::size_t size) {
    static wchar_t name[kPathUnits];
    name[0] = L'\0';
    OPENFILENAMEW file{};
    file.lStructSize = sizeof file;
    file.hwndOwner = owner;
    file.lpstrFilter = L"JSON (*.json)\0*.json\0*.*\0*.*\0";
    file.lpstrFile = name;
    file.nMaxFile = kPathUnits;
    file.lpstrDefExt = L"json";
    file.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    if (!(save ? GetSaveFileNameW(&file) : GetOpenFileNameW(&file))) {
        return false;
    }
    int units = lstrlenW(name);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, name, units, nullptr, 0, nullptr, nullptr);
    if (size == 0 || bytes <= 0 || static_cast<std::size_t>(bytes) >= size) {
        return false;
    }
    WideToUtf8(name, units, path, size);
    return true;
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

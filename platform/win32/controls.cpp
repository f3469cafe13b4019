// List and combo boxes, buttons, the edit control, the progress bar and the
// status bar.
#include "platform/platform.h"

#include <commctrl.h>

#include <iterator>

#include "platform/win32/win32_internal.h"

using namespace win32;

namespace {

LRESULT SendItem(Window dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageW(dialog, id, message, wParam, lParam);
}

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

// List and combo boxes, buttons with their radio groups, the edit control
// with its limit and selection, the progress bar and the status bar.
#include <algorithm>

#include "platform/model/model_state.h"

using namespace model;

namespace model {
namespace {

bool IsButtonKind(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton ||
           kind == ControlKind::AutoRadio || kind == ControlKind::AutoCheck;
}

void UncheckGroupLocked(ModelWindow* w, std::size_t index) {
    // The group runs from the last WS_GROUP control at or before the button
    // to the control before the next WS_GROUP one. As in the button control,
    // siblings are found the way GetNextDlgGroupItem walks the group, which
    // passes over hidden and disabled controls.
    std::size_t first = index;
    while (first > 0 && !w->controls[first].groupStart) {
        --first;
    }
    std::size_t end = index + 1;
    while (end < w->controls.size() && !w->controls[end].groupStart) {
        ++end;
    }
    for (std::size_t i = first; i < end; ++i) {
        ModelControl& sibling = w->controls[i];
        if (i != index && sibling.kind == ControlKind::AutoRadio && sibling.visible && sibling.enabled) {
            sibling.checked = false;
        }
    }
}

std::size_t Utf16Units(std::string_view text) {
    std::size_t units = 0;
    for (char ch : text) {
        auto b = static_cast<unsigned char>(ch);
        if ((b & 0xC0u) != 0x80u) {
            units += b >= 0xF0u ? 2 : 1;
        }
    }
    return units;
}

// The longest prefix of whole characters that takes at most units UTF-16
// units; *used gets the units it takes.
std::size_t PrefixWithin(std::string_view text, std::size_t units, std::size_t* used) {
    *used = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t need = static_cast<unsigned char>(text[i]) >= 0xF0u ? 2 : 1;
        if (*used + need > units) {
            break;
        }
        *used += need;
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0u) == 0x80u) {
            ++i;
        }
    }
    return i;
}

// The byte offset in text of a position in UTF-16 units (within its length).
std::size_t ByteOffset(std::string_view text, std::size_t units) {
    std::size_t used = 0;
    return PrefixWithin(text, units, &used);
}

// EM_REPLACESEL: the selection gives way to as much of text as the limit
// leaves room for, and the caret stands after it.
void ReplaceSelectionLocked(ModelControl* c, std::string_view text) {
    std::size_t start = std::min(c->selStart, c->selEnd);
    std::size_t end = std::max(c->selStart, c->selEnd);
    std::size_t kept = c->units - (end - start);
    std::size_t added = 0;
    std::size_t fit = PrefixWithin(text, c->limit > kept ? c->limit - kept : 0, &added);
    // The caret at the end (every append) needs no walk through the text.
    std::size_t from = start == c->units ? c->text.size() : ByteOffset(c->text, start);
    std::size_t to = end == c->units ? c->text.size() : ByteOffset(c->text, end);
    c->text.replace(from, to - from, text.substr(0, fit));
    c->units = kept + added;
    c->selStart = c->selEnd = start + added;
}

}  // namespace

// BM_CLICK: the button takes the focus, an auto radio button becomes checked
// and unchecks its group, an auto check box toggles, then the dialog gets
// BN_CLICKED. BM_CLICK does not look at WS_DISABLED (as seen under Wine with
// Common Controls 6, the program's controls): a disabled button, or a button
// of a disabled dialog, still changes state and reports the click; it only
// cannot take the focus. Nothing keeps a disabled button from being clicked
// by the program itself.
void ClickNow(Window dialog, int id) {
    ModelWindow* w;
    int index;
    bool takeFocus;
    {
        std::lock_guard lock(Lock());
        w = LiveLocked(dialog);
        if (w == nullptr) {
            return;
        }
        index = IndexLocked(w, id);
        if (index < 0) {
            return;
        }
        if (!IsButtonKind(w->controls[static_cast<std::size_t>(index)].kind)) {
            return;
        }
        takeFocus = CanTakeFocusLocked(w, index);
    }
    if (takeFocus) {
        MoveFocus(w, index, false);
    }
    intptr_t handle;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        ModelControl& c = w->controls[static_cast<std::size_t>(index)];
        if (c.kind == ControlKind::AutoCheck) {
            c.checked = !c.checked;
        } else if (c.kind == ControlKind::AutoRadio) {
            c.checked = true;
            UncheckGroupLocked(w, static_cast<std::size_t>(index));
        }
        handle = ControlHandle(w, index);
    }
    SendToProc(w, kMsgCommand, CommandParam(static_cast<unsigned>(id), kButtonClicked), handle);
}

}  // namespace model

// ---- list box ----

int ListAddRow(Window dialog, int id, const char* text) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) {
        c->rows.emplace_back(text != nullptr ? text : "");
        row = static_cast<int>(c->rows.size()) - 1;
    });
    return row;
}

void ListEmpty(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) {
        c->rows.clear();
        c->selection = -1;
    });
}

void ListSelectRow(Window dialog, int id, int row) {
    WithControl(dialog, id, ControlKind::ListBox,
                [&](ModelControl* c) { c->selection = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1; });
}

int ListGetSelection(Window dialog, int id) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) { row = c->selection; });
    return row;
}

int ListGetCount(Window dialog, int id) {
    int count = 0;
    WithControl(dialog, id, ControlKind::ListBox, [&](ModelControl* c) { count = static_cast<int>(c->rows.size()); });
    return count;
}

// ---- combo box ----
// The edit field shows the selected row, and nothing without a selection.

int ComboAddRow(Window dialog, int id, const char* text) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->rows.emplace_back(text != nullptr ? text : "");
        row = static_cast<int>(c->rows.size()) - 1;
    });
    return row;
}

void ComboEmpty(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->rows.clear();
        c->selection = -1;
        c->text.clear();
    });
}

void ComboSelectRow(Window dialog, int id, int row) {
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) {
        c->selection = row >= 0 && row < static_cast<int>(c->rows.size()) ? row : -1;
        c->text = c->selection >= 0 ? c->rows[static_cast<std::size_t>(c->selection)] : std::string();
    });
}

int ComboGetSelection(Window dialog, int id) {
    int row = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) { row = c->selection; });
    return row;
}

int ComboGetCount(Window dialog, int id) {
    int count = 0;
    WithControl(dialog, id, ControlKind::ComboBox, [&](ModelControl* c) { count = static_cast<int>(c->rows.size()); });
    return count;
}

// ---- buttons and enabling ----

void ClickButton(Window dialog, int id) {
    OnOwner(dialog, [&] { ClickNow(dialog, id); });
}

void PostButtonClick(Window dialog, int id) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(dialog)) {
        ThreadLocked(w->owner).posted.push_back(PostedClick{w, id, 0, 0, 0});
        Wake().notify_all();
    }
}

bool IsButtonChecked(Window dialog, int id) {
    bool checked = false;
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            checked = c->checked;
        }
    });
    return checked;
}

// BM_SETCHECK; checking an auto radio button unchecks the rest of its group
// as a click does (Common Controls 6). Push buttons have no checked state.
void SetButtonChecked(Window dialog, int id, bool checked) {
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        ModelWindow* w = LiveLocked(dialog);
        int index = w != nullptr ? IndexLocked(w, id) : -1;
        if (index < 0) {
            return;
        }
        ModelControl& c = w->controls[static_cast<std::size_t>(index)];
        if (c.kind == ControlKind::AutoRadio || c.kind == ControlKind::AutoCheck) {
            c.checked = checked;
        }
        if (c.kind == ControlKind::AutoRadio && checked) {
            UncheckGroupLocked(w, static_cast<std::size_t>(index));
        }
    });
}

// Disabling the control that has the focus takes the focus away from it
// (to no control), after it is disabled.
void EnableControl(Window dialog, int id, bool enable) {
    OnOwner(dialog, [&] {
        bool loseFocus;
        {
            std::lock_guard lock(Lock());
            ModelWindow* w = LiveLocked(dialog);
            int index = w != nullptr ? IndexLocked(w, id) : -1;
            if (index < 0) {
                return;
            }
            w->controls[static_cast<std::size_t>(index)].enabled = enable;
            const ThreadState& self = SelfLocked();
            loseFocus = !enable && self.focusWindow == w && self.focusIndex == index;
        }
        if (loseFocus) {
            MoveFocus(nullptr, -1, false);
        }
    });
}

bool IsControlEnabled(Window dialog, int id) {
    bool enabled = false;
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            enabled = c->enabled;
        }
    });
    return enabled;
}

// ---- edit, progress bar, status bar ----

// The caret moved to the end and the text put there, in one step on the
// owner thread: a selection the user makes meanwhile cannot come between
// the two, so a line from a worker never lands inside the text.
void EditAppendText(Window dialog, int id, const char* text) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) {
        c->selStart = c->selEnd = c->units;
        ReplaceSelectionLocked(c, text != nullptr ? text : "");
        ++c->appends;
    });
}

void EditRaiseLimit(Window dialog, int id) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) { c->limit = kEditMaximumLimit; });
}

// WM_SETTEXT: any control's text, not cut by an edit control's limit; the
// caret goes to the start.
void EditSetText(Window dialog, int id, const char* text) {
    OnOwner(dialog, [&] {
        std::lock_guard lock(Lock());
        if (ModelControl* c = ControlLocked(dialog, id)) {
            c->text = text != nullptr ? text : "";
            c->units = Utf16Units(c->text);
            c->selStart = c->selEnd = 0;
        }
    });
}

// The bar keeps its position within its range, as the control does.
void ProgressSetRange(Window dialog, int id, int maximum) {
    WithControl(dialog, id, ControlKind::Progress, [&](ModelControl* c) {
        c->rangeMax = maximum;
        c->position = std::clamp(c->position, 0, std::max(0, maximum));
    });
}

void ProgressSetPos(Window dialog, int id, int position) {
    WithControl(dialog, id, ControlKind::Progress,
                [&](ModelControl* c) { c->position = std::clamp(position, 0, std::max(0, c->rangeMax)); });
}

void StatusSetText(Window dialog, int id, const char* text) {
    WithControl(dialog, id, ControlKind::StatusBar, [&](ModelControl* c) { c->text = text != nullptr ? text : ""; });
}

// ---- model hooks ----

bool ModelListRow(Window dialog, int id, int row, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::ListBox);
    if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return false;
    }
    *text = c->rows[static_cast<std::size_t>(row)];
    return true;
}

bool ModelComboRow(Window dialog, int id, int row, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::ComboBox);
    if (c == nullptr || row < 0 || row >= static_cast<int>(c->rows.size())) {
        return false;
    }
    *text = c->rows[static_cast<std::size_t>(row)];
    return true;
}

bool ModelControlText(Window dialog, int id, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id);
    if (c == nullptr) {
        return false;
    }
    *text = c->text;
    return true;
}

bool ModelStatusText(Window dialog, int id, std::string* text) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::StatusBar);
    if (c == nullptr) {
        return false;
    }
    *text = c->text;
    return true;
}

int ModelProgressMax(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Progress);
    return c != nullptr ? c->rangeMax : -1;
}

int ModelProgressPos(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Progress);
    return c != nullptr ? c->position : -1;
}

void ModelSetEditSelection(Window dialog, int id, int start, int end) {
    WithControl(dialog, id, ControlKind::Edit, [&](ModelControl* c) {
        auto place = [c](int position) {
            return position < 0 ? c->units : std::min(static_cast<std::size_t>(position), c->units);
        };
        c->selStart = place(start);
        c->selEnd = place(end);
    });
}

int ModelEditLength(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Edit);
    return c != nullptr ? static_cast<int>(c->units) : -1;
}

unsigned ModelEditAppends(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Edit);
    return c != nullptr ? c->appends : 0;
}

unsigned ModelEditLimit(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelControl* c = ControlLocked(dialog, id, ControlKind::Edit);
    return c != nullptr ? static_cast<unsigned>(c->limit) : 0;
}

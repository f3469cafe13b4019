// Focus, per thread as in Win32: the notifications of controls that gain and
// lose it, a dialog's activation, and the focus given back to a modal
// dialog's owner.
#include "platform/model/model_state.h"

using namespace model;

namespace model {

// The first control GetNextDlgTabItem would give: a visible, enabled tab stop.
int FirstTabStopLocked(const ModelWindow* w) {
    for (std::size_t i = 0; i < w->controls.size(); ++i) {
        const ModelControl& c = w->controls[i];
        if ((c.style & kWsTabStop) != 0 && c.visible && c.enabled) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

namespace {

// Up to two notifications of one control to its dialog, sent in order.
struct Notice {
    ModelWindow* window = nullptr;
    int id = 0;
    std::array<unsigned, 2> codes{};
    intptr_t handle = 0;
};

void Deliver(const Notice& notice) {
    for (unsigned code : notice.codes) {
        if (notice.window != nullptr && code != 0) {
            SendToProc(notice.window, kMsgCommand, CommandParam(static_cast<unsigned>(notice.id), code), notice.handle);
        }
    }
}

// The notifications a control sends its dialog when it gains or loses the
// focus, if it sends any. A combo box losing the focus closes its (closed)
// list first, which it reports as a cancelled selection.
Notice FocusNoticeLocked(ModelWindow* w, int index, bool gained) {
    const ModelControl& c = w->controls[static_cast<std::size_t>(index)];
    unsigned code = 0;
    unsigned before = 0;
    switch (c.kind) {
    case ControlKind::ComboBox:
        code = gained ? kComboSetFocus : kComboKillFocus;
        before = gained ? 0 : kComboSelEndCancel;
        break;
    case ControlKind::ListBox:
        if ((c.style & kLbsNotify) != 0) {
            code = gained ? kListSetFocus : kListKillFocus;
        }
        break;
    case ControlKind::Edit:
        code = gained ? kEditSetFocus : kEditKillFocus;
        break;
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::AutoRadio:
    case ControlKind::AutoCheck:
        if ((c.style & kBsNotify) != 0) {
            code = gained ? kButtonSetFocus : kButtonKillFocus;
        }
        break;
    default:
        break;
    }
    if (code == 0 || c.id == -1) {
        return Notice{};
    }
    if (before != 0) {
        return Notice{w, c.id, {before, code}, ControlHandle(w, index)};
    }
    return Notice{w, c.id, {code, 0}, ControlHandle(w, index)};
}

bool IsComboWithEdit(const ModelControl& c) {
    return c.kind == ControlKind::ComboBox && (c.style & kCbsTypeMask) != kCbsDropDownList;
}

}  // namespace

// Moves the calling thread's focus to a control (window nullptr: to none).
// The control losing the focus notifies first, then the one gaining it. A
// combo box with an edit field that is asked for the focus it already has
// loses and regains it (the focus passes from its edit field to the combo and
// back), so it sends both notifications again.
void MoveFocus(ModelWindow* window, int index, bool refocusCombo) {
    Notice kill;
    Notice set;
    {
        std::lock_guard lock(Lock());
        ThreadState& self = SelfLocked();
        if (window != nullptr && LiveLocked(window) == nullptr) {
            return;
        }
        bool same = self.focusWindow == window && (window == nullptr || self.focusIndex == index);
        if (same && !(refocusCombo && window != nullptr &&
                      IsComboWithEdit(window->controls[static_cast<std::size_t>(index)]))) {
            return;
        }
        if (self.focusWindow != nullptr && LiveLocked(self.focusWindow) != nullptr && self.focusIndex >= 0) {
            kill = FocusNoticeLocked(self.focusWindow, self.focusIndex, false);
        }
        self.focusWindow = window;
        self.focusIndex = window != nullptr ? index : -1;
        if (window != nullptr) {
            set = FocusNoticeLocked(window, index, true);
        }
    }
    Deliver(kill);
    Deliver(set);
}

// SetFocus refuses a disabled control or a control of a disabled dialog.
bool CanTakeFocusLocked(const ModelWindow* w, int index) {
    return w->enabled && w->controls[static_cast<std::size_t>(index)].enabled;
}

// A dialog becoming the active window: when the focus is elsewhere, the
// dialog that has it remembers its control, and the new dialog's first tab
// stop gets the focus.
void Activate(ModelWindow* w) {
    int target;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr || w->ended) {
            return;
        }
        w->activated = true;
        ThreadState& self = SelfLocked();
        if (self.focusWindow == w) {
            return;
        }
        if (self.focusWindow != nullptr && LiveLocked(self.focusWindow) != nullptr) {
            self.focusWindow->savedFocus = self.focusIndex;
        }
        target = FirstTabStopLocked(w);
    }
    MoveFocus(target >= 0 ? w : nullptr, target, false);
}

// The owner of an ended modal dialog becoming active again: its remembered
// control gets the focus back, or its first tab stop when it remembered none.
void RestoreFocus(ModelWindow* w) {
    int target;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        ThreadState& self = SelfLocked();
        if (self.focusWindow == w) {
            return;
        }
        target = w->savedFocus >= 0 ? w->savedFocus : FirstTabStopLocked(w);
        if (target >= 0 && !CanTakeFocusLocked(w, target)) {
            target = -1;
        }
    }
    if (target >= 0) {
        MoveFocus(w, target, false);
    }
}

}  // namespace model

void SetControlFocus(Window dialog, int id) {
    OnOwner(dialog, [&] {
        ModelWindow* w;
        int index;
        {
            std::lock_guard lock(Lock());
            w = LiveLocked(dialog);
            index = w != nullptr ? IndexLocked(w, id) : -1;
            if (index < 0 || !CanTakeFocusLocked(w, index)) {
                return;
            }
        }
        MoveFocus(w, index, true);
    });
}

// ---- model hooks ----

bool ModelHasFocus(Window dialog, int id) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(dialog);
    if (w == nullptr) {
        return false;
    }
    int index = IndexLocked(w, id);
    const ThreadState& owner = ThreadLocked(w->owner);
    return index >= 0 && owner.focusWindow == w && owner.focusIndex == index;
}

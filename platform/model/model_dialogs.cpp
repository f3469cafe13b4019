// Windows and dialogs: modeless, modal and hidden dialogs and their ends,
// titles and icons, message boxes answered from the scripted answers, and
// string table entries.
#include <algorithm>
#include <cstring>

#include "resources/ids.h"
#include "resources/strings.h"

#include "platform/model/model_state.h"

using namespace model;

namespace model {

void EndNow(ModelWindow* w, intptr_t result) {
    ModelWindow* owner = nullptr;
    bool focusInside;
    bool wasActive;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return;
        }
        // Only the first end takes effect beyond the result: a destroy
        // handler that ends its dialog again is harmless.
        w->result = result;
        if (w->ended) {
            return;
        }
        w->ended = true;
        owner = LiveLocked(w->ownerWindow);
        if (owner != nullptr && w->disabledOwner) {
            owner->enabled = true;
            w->disabledOwner = false;
        }
        focusInside = SelfLocked().focusWindow == w;
        wasActive = w->activated;
    }
    // EndDialog first re-enables the owner, moves the focus out of the dialog
    // and activates the owner, which gives the focus back to its control.
    if (focusInside) {
        MoveFocus(nullptr, -1, false);
    }
    if (owner != nullptr && wasActive) {
        RestoreFocus(owner);
    }
}

void DestroyNow(ModelWindow* w) {
    bool focusInside;
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr || w->destroying) {
            return;
        }
        w->destroying = true;
        focusInside = SelfLocked().focusWindow == w;
    }
    // The window stops being active before it is told it is destroyed.
    if (focusInside) {
        MoveFocus(nullptr, -1, false);
    }
    SendToProc(w, kMsgDestroy, 0, 0);
    std::lock_guard lock(Lock());
    w->alive = false;
    ThreadState& self = SelfLocked();
    if (self.focusWindow == w) {
        self.focusWindow = nullptr;
        self.focusIndex = -1;
    }
    if (w->disabledOwner) {
        if (ModelWindow* owner = LiveLocked(w->ownerWindow)) {
            owner->enabled = true;
        }
        w->disabledOwner = false;
    }
}

ModelWindow* CreateDialogWindow(int templateId, DialogProc proc, Window owner, bool modal) {
    const DialogLayout* layout = FindDialogLayout(templateId);
    if (layout == nullptr || proc == nullptr) {
        return nullptr;
    }
    auto w = std::make_unique<ModelWindow>();
    w->templateId = templateId;
    w->proc = proc;
    w->owner = std::this_thread::get_id();
    w->title = layout->caption != nullptr ? layout->caption : "";
    w->modal = modal;
    for (const ControlLayout& c : layout->controls) {
        ModelControl control;
        control.id = c.id;
        control.kind = c.kind;
        control.style = c.style;
        control.groupStart = c.groupStart;
        control.enabled = (c.style & kWsDisabled) == 0;
        control.visible = (c.style & kWsVisible) != 0;
        if (c.kind != ControlKind::Edit && c.kind != ControlKind::ComboBox && c.text != nullptr) {
            control.text = c.text;
        }
        w->controls.push_back(std::move(control));
    }
    std::lock_guard lock(Lock());
    ModelWindow* ownerWindow = LiveLocked(owner);
    w->ownerWindow = ownerWindow;
    if (modal && ownerWindow != nullptr && ownerWindow->enabled) {
        ownerWindow->enabled = false;
        w->disabledOwner = true;
    }
    S().windows.push_back(std::move(w));
    return S().windows.back().get();
}

// The initialise message; a nonzero answer asks for the focus on the first tab stop.
void Initialise(ModelWindow* w) {
    intptr_t answer = SendToProc(w, kMsgInitDialog, 0, 0);
    if (answer != 0) {
        int target;
        {
            std::lock_guard lock(Lock());
            target = LiveLocked(w) != nullptr ? FirstTabStopLocked(w) : -1;
        }
        if (target >= 0) {
            MoveFocus(w, target, false);
        }
    }
}

}  // namespace model

// ---- windows and dialogs ----

// The model's controls need no class registration.
void InitCommonControlClasses(unsigned) {}

void SetWindowTitle(Window window, const char* text) {
    OnOwner(window, [&] {
        std::lock_guard lock(Lock());
        if (ModelWindow* w = LiveLocked(window)) {
            w->title = text != nullptr ? text : "";
        }
    });
}

void SetWindowIcons(Window window, int iconId) {
    OnOwner(window, [&] {
        std::lock_guard lock(Lock());
        if (ModelWindow* w = LiveLocked(window)) {
            w->icon = iconId;
        }
    });
}

// Only the owner thread can destroy a window (DestroyWindow fails on
// another thread's window).
void DestroyDialog(Window dialog) {
    {
        std::lock_guard lock(Lock());
        ModelWindow* w = LiveLocked(dialog);
        if (w == nullptr || w->owner != std::this_thread::get_id()) {
            return;
        }
    }
    DestroyNow(dialog);
}

void PostQuit(int code) {
    std::lock_guard lock(Lock());
    S().quitPosted = true;
    S().quitCode = code;
}

// Creates the dialog owned by the calling thread (disabling its owner), sends
// the initialise message, activates it, and hands it to the driver set for
// its template. With no driver, or when the driver returns without ending
// it, the dialog ends with 2. The result is taken before the destroy message,
// so a destroy handler that ends the dialog again changes nothing; a dialog
// destroyed instead of ended gives 0, as DialogBox does.
intptr_t RunModalDialog(int templateId, Window owner, DialogProc proc) {
    ModelWindow* w = CreateDialogWindow(templateId, proc, owner, true);
    if (w == nullptr) {
        return -1;
    }
    Initialise(w);
    Activate(w);
    Driver driver{nullptr, nullptr};
    bool running;
    {
        std::lock_guard lock(Lock());
        auto found = S().drivers.find(templateId);
        if (found != S().drivers.end()) {
            driver = found->second;
        }
        running = LiveLocked(w) != nullptr && !w->ended;
    }
    // The dialog manager shows a dialog its initialisation did not end.
    if (running) {
        SendToProc(w, kMsgShowWindow, 1, 0);
    }
    if (running && driver.driver != nullptr) {
        driver.driver(w, driver.context);
    }
    intptr_t result = 0;
    bool alive;
    {
        std::lock_guard lock(Lock());
        alive = LiveLocked(w) != nullptr;
        running = alive && !w->ended;
    }
    if (running) {
        EndNow(w, kCommandCancel);
    }
    {
        std::lock_guard lock(Lock());
        alive = LiveLocked(w) != nullptr;
        result = alive ? w->result : 0;
    }
    if (alive) {
        DestroyNow(w);
    }
    return result;
}

void EndModalDialog(Window dialog, intptr_t result) {
    OnOwner(dialog, [&] { EndNow(dialog, result); });
}

intptr_t DefaultCommandResult(Window, unsigned, uintptr_t, intptr_t) { return 0; }

intptr_t SendDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return ModelSendMessage(dialog, message, wParam, lParam);
}

bool PostDialogMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(dialog);
    if (w == nullptr) {
        return false;
    }
    ThreadLocked(w->owner).posted.push_back(PostedClick{w, 0, message, wParam, lParam});
    Wake().notify_all();
    return true;
}

// A message box runs on the calling thread; here it is answered at once from
// the scripted answers, or with its default button.
int ShowMessageBox(Window owner, const char* text, const char* caption, unsigned kind) {
    std::lock_guard lock(Lock());
    State& s = S();
    int answer;
    if (!s.answers.empty()) {
        answer = s.answers.front();
        s.answers.pop_front();
    } else {
        // The buttons of each MB_ type in order, and MB_DEFBUTTONn picks one.
        static constexpr std::array<std::array<int, 3>, 7> kButtons = {{
            {kAnswerOk, 0, 0},
            {kAnswerOk, kAnswerCancel, 0},
            {3, 4, 5},  // abort, retry, ignore
            {kAnswerYes, kAnswerNo, kAnswerCancel},
            {kAnswerYes, kAnswerNo, 0},
            {4, kAnswerCancel, 0},    // retry, cancel
            {kAnswerCancel, 10, 11},  // cancel, try again, continue
        }};
        unsigned type = std::min<unsigned>(kind & 0xFu, 6);
        unsigned pick = std::min<unsigned>((kind >> 8) & 0xFu, 2);
        answer = kButtons[type][pick] != 0 ? kButtons[type][pick] : kButtons[type][0];
        ++s.unscripted;
    }
    s.boxes.push_back(ModelBox{owner, kind, text != nullptr ? text : "", caption != nullptr ? caption : "",
                               std::this_thread::get_id(), answer});
    return answer;
}

void LoadStringText(int id, char* buffer, std::size_t size) {
    const char* text = "";
    switch (id) {
    case IDS_PORTS_HELD:
        text = KESTROVA_TEXT_PORTS_HELD;
        break;
    case IDS_NUMBER_CLAIMED:
        text = KESTROVA_TEXT_NUMBER_CLAIMED;
        break;
    case IDS_NUMBERS_CLAIMED:
        text = KESTROVA_TEXT_NUMBERS_CLAIMED;
        break;
    default:
        break;
    }
    CopyText(text, buffer, size);
}

// The model has no keyboard to translate.
void AttachAccelerators(Window, int) {}

// ---- model hooks ----

Window ModelOpenDialog(int templateId, DialogProc proc) {
    ModelWindow* w = CreateDialogWindow(templateId, proc, nullptr, false);
    if (w == nullptr) {
        return nullptr;
    }
    Initialise(w);
    // Shown at once, so activated like a modal dialog.
    Activate(w);
    SendToProc(w, kMsgShowWindow, 1, 0);
    return w;
}

bool ModelIsWindow(Window window) {
    std::lock_guard lock(Lock());
    return LiveLocked(window) != nullptr;
}

Window ModelFindDialog(int templateId) {
    std::lock_guard lock(Lock());
    for (auto w = S().windows.rbegin(); w != S().windows.rend(); ++w) {
        if ((*w)->alive && (*w)->templateId == templateId) {
            return w->get();
        }
    }
    return nullptr;
}

void ModelSetModalDriver(int templateId, ModelDriver driver, void* context) {
    std::lock_guard lock(Lock());
    if (driver == nullptr) {
        S().drivers.erase(templateId);
    } else {
        S().drivers[templateId] = Driver{driver, context};
    }
}

bool ModelWindowTitle(Window window, std::string* text) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return false;
    }
    *text = w->title;
    return true;
}

int ModelWindowIcon(Window window) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(window);
    return w != nullptr ? w->icon : 0;
}

bool ModelIsDialogEnabled(Window dialog) {
    std::lock_guard lock(Lock());
    ModelWindow* w = LiveLocked(dialog);
    return w != nullptr && w->enabled;
}

bool AskFilePath(Window, bool save, char* path, std::size_t size) {
    std::lock_guard lock(Lock());
    S().fileDialogs.push_back(save);
    if (S().filePaths.empty()) {
        return false;
    }
    std::string answer = S().filePaths.front();
    S().filePaths.pop_front();
    if (answer.size() >= size) {
        return false;
    }
    std::memcpy(path, answer.c_str(), answer.size() + 1);
    return true;
}

void ModelQueueFilePath(const char* path) {
    std::lock_guard lock(Lock());
    S().filePaths.push_back(path);
}

std::vector<bool> ModelFileDialogs() {
    std::lock_guard lock(Lock());
    return S().fileDialogs;
}

void ModelQueueAnswer(int answer) {
    std::lock_guard lock(Lock());
    S().answers.push_back(answer);
}

int ModelBoxCount() {
    std::lock_guard lock(Lock());
    return static_cast<int>(S().boxes.size());
}

ModelBox ModelBoxAt(int index) {
    std::lock_guard lock(Lock());
    if (index < 0 || index >= static_cast<int>(S().boxes.size())) {
        return ModelBox{nullptr, 0, {}, {}, {}, 0};
    }
    return S().boxes[static_cast<std::size_t>(index)];
}

int ModelUnscriptedBoxes() {
    std::lock_guard lock(Lock());
    return S().unscripted;
}

void ModelResetBoxes() {
    std::lock_guard lock(Lock());
    S().boxes.clear();
    S().answers.clear();
    S().unscripted = 0;
}

bool ModelQuitPosted(int* code) {
    std::lock_guard lock(Lock());
    if (code != nullptr) {
        *code = S().quitCode;
    }
    return S().quitPosted;
}

void ModelResetQuit() {
    std::lock_guard lock(Lock());
    S().quitPosted = false;
    S().quitCode = 0;
}

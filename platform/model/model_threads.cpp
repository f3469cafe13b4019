// The model's one state and its lock, windows looked up under it, calls run
// on a window's owner thread, the message pump with its timers, and the reset.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/model/model_state.h"

using namespace model;

namespace model {

std::string Lowercase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

// Never destroyed: a detached worker may still touch it while the process exits.
State& S() {
    static State* state = new State;
    return *state;
}
std::mutex& Lock() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
std::condition_variable& Wake() {
    static std::condition_variable* wake = new std::condition_variable;
    return *wake;
}

thread_local unsigned lastError = 0;

// Copies text into buffer, terminated, cut at a character boundary.
void CopyText(std::string_view text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    std::size_t n = std::min(text.size(), size - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
        --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// ---- windows, with the lock held ----

ModelWindow* LiveLocked(Window window) {
    if (window == nullptr) {
        return nullptr;
    }
    for (const auto& w : S().windows) {
        if (w.get() == window) {
            return w->alive ? w.get() : nullptr;
        }
    }
    return nullptr;
}

// Like GetDlgItem: the first control with the id.
int IndexLocked(const ModelWindow* w, int id) {
    if (id == -1) {
        return -1;
    }
    for (std::size_t i = 0; i < w->controls.size(); ++i) {
        if (w->controls[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

ModelControl* ControlLocked(Window window, int id) {
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return nullptr;
    }
    int index = IndexLocked(w, id);
    return index < 0 ? nullptr : &w->controls[static_cast<std::size_t>(index)];
}

ModelControl* ControlLocked(Window window, int id, ControlKind kind) {
    ModelControl* c = ControlLocked(window, id);
    return c != nullptr && c->kind == kind ? c : nullptr;
}

ThreadState& ThreadLocked(std::thread::id id) { return S().threads[id]; }
ThreadState& SelfLocked() { return ThreadLocked(std::this_thread::get_id()); }

// ---- calling dialog procedures ----

intptr_t ControlHandle(ModelWindow* w, int index) {
    return reinterpret_cast<intptr_t>(&w->controls[static_cast<std::size_t>(index)]);
}

intptr_t SendToProc(ModelWindow* w, unsigned message, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard lock(Lock());
        if (LiveLocked(w) == nullptr) {
            return 0;
        }
    }
    return w->proc(w, message, wParam, lParam);
}

// ---- running on the owner thread ----

// Runs one call queued for the calling thread; the lock is held on entry and exit.
void RunOneSent(std::unique_lock<std::mutex>& lock, ThreadState& self) {
    SentCall* call = self.sent.front();
    self.sent.pop_front();
    lock.unlock();
    (*call->work)();
    lock.lock();
    call->done = true;
    Wake().notify_all();
}

// Runs work on the thread that owns window, as SendMessage would; nothing
// happens when the window does not exist.
void OnOwner(Window window, const std::function<void()>& work) {
    std::unique_lock lock(Lock());
    ModelWindow* w = LiveLocked(window);
    if (w == nullptr) {
        return;
    }
    if (w->owner == std::this_thread::get_id()) {
        lock.unlock();
        work();
        return;
    }
    SentCall call{&work, false};
    ThreadLocked(w->owner).sent.push_back(&call);
    Wake().notify_all();
    ThreadState& self = SelfLocked();
    while (!call.done) {
        if (!self.sent.empty()) {
            RunOneSent(lock, self);
            continue;
        }
        Wake().wait(lock);
    }
}

}  // namespace model

// ---- timers ----

// A timer is due at every pump of its window's thread.
void StartWindowTimer(Window window, unsigned id, unsigned) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(window)) {
        std::vector<Timer>& timers = ThreadLocked(w->owner).timers;
        if (std::none_of(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == w && t.id == id; })) {
            timers.push_back(Timer{w, id});
        }
        Wake().notify_all();
    }
}

void StopWindowTimer(Window window, unsigned id) {
    std::lock_guard lock(Lock());
    if (ModelWindow* w = LiveLocked(window)) {
        std::erase_if(ThreadLocked(w->owner).timers, [&](const Timer& t) { return t.window == w && t.id == id; });
    }
}

// ---- model hooks ----

void ModelReset() {
    std::lock_guard lock(Lock());
    S() = State{};
    lastError = 0;
}

intptr_t ModelSendMessage(Window dialog, unsigned message, uintptr_t wParam, intptr_t lParam) {
    intptr_t result = 0;
    OnOwner(dialog, [&] { result = SendToProc(dialog, message, wParam, lParam); });
    return result;
}

void ModelPump() {
    std::unique_lock lock(Lock());
    ThreadState& self = SelfLocked();
    while (!self.sent.empty()) {
        RunOneSent(lock, self);
    }
    // Clicks posted while these run wait for the next pump, so a click that
    // posts another cannot keep one pump going for ever.
    std::size_t queued = self.posted.size();
    for (std::size_t i = 0; i < queued && !self.posted.empty(); ++i) {
        PostedClick click = self.posted.front();
        self.posted.pop_front();
        bool live = LiveLocked(click.dialog) != nullptr;
        lock.unlock();
        if (click.message == 0) {
            ClickNow(click.dialog, click.id);
        } else if (live) {
            SendToProc(click.dialog, click.message, click.wParam, click.lParam);
        }
        lock.lock();
        while (!self.sent.empty()) {
            RunOneSent(lock, self);
        }
    }
    // A destroyed window's timers end with it, as in Win32.
    std::erase_if(self.timers, [](const Timer& t) { return LiveLocked(t.window) == nullptr; });
    std::vector<Timer> due = self.timers;
    for (const Timer& t : due) {
        lock.unlock();
        SendToProc(t.window, kMsgTimer, t.id, 0);
        lock.lock();
        while (!self.sent.empty()) {
            RunOneSent(lock, self);
        }
    }
}

int ModelTimerCount() {
    std::lock_guard lock(Lock());
    std::erase_if(SelfLocked().timers, [](const Timer& t) { return LiveLocked(t.window) == nullptr; });
    return static_cast<int>(SelfLocked().timers.size());
}

bool ModelPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        ModelPump();
        if (done(context)) {
            return true;
        }
        std::unique_lock lock(Lock());
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            lock.unlock();
            return done(context);
        }
        ThreadState& self = SelfLocked();
        if (self.sent.empty() && self.posted.empty() && self.timers.empty()) {
            // done may watch state the model does not see, so look again soon.
            Wake().wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(5)));
        }
    }
}

// A dialog procedure that records what it receives, for the model's tests.
#pragma once

#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/model/model.h"
#include "platform/platform.h"

struct Received {
    Window window;
    unsigned message;
    unsigned id;
    unsigned code;
    std::thread::id thread;
};

class Recorder {
public:
    void Add(const Received& received) {
        std::lock_guard hold(lock_);
        all_.push_back(received);
    }
    void Clear() {
        std::lock_guard hold(lock_);
        all_.clear();
    }
    std::vector<Received> All() {
        std::lock_guard hold(lock_);
        return all_;
    }
    // The (id, code) pairs of the commands one window received.
    std::vector<std::pair<unsigned, unsigned>> Commands(Window window) {
        std::vector<std::pair<unsigned, unsigned>> seen;
        for (const Received& r : All()) {
            if (r.window == window && r.message == kMsgCommand) {
                seen.emplace_back(r.id, r.code);
            }
        }
        return seen;
    }
    int Count(Window window, unsigned message) {
        int count = 0;
        for (const Received& r : All()) {
            count += r.window == window && r.message == message ? 1 : 0;
        }
        return count;
    }

private:
    std::mutex lock_;
    std::vector<Received> all_;
};

inline Recorder recorder;

inline intptr_t KESTROVA_CALLBACK RecordingProc(Window window, unsigned message, uintptr_t wParam, intptr_t) {
    if (message == kMsgCommand || message == kMsgInitDialog || message == kMsgDestroy) {
        recorder.Add(Received{window, message, CommandId(wParam), CommandCode(wParam), std::this_thread::get_id()});
    }
    return 0;
}

using Seen = std::vector<std::pair<unsigned, unsigned>>;

constexpr inline unsigned kSelEndCancel = 10;  // CBN_SELENDCANCEL

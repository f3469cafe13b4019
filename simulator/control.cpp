// The test-control routines of sim_control.h, each under the simulator's lock.
#include <string>

#include "simulator/sim_state.h"

using namespace sim;

namespace {

SimPort* PortAt(SimState& s, int card, int port) {
    if (card < 0 || static_cast<std::size_t>(card) >= s.current.cards.size()) {
        return nullptr;
    }
    std::vector<SimPort>& ports = s.current.cards[static_cast<std::size_t>(card)].ports;
    return port >= 0 && static_cast<std::size_t>(port) < ports.size() ? &ports[static_cast<std::size_t>(port)]
                                                                      : nullptr;
}

SimCard* CardAt(SimState& s, int card) {
    return card >= 0 && static_cast<std::size_t>(card) < s.current.cards.size()
               ? &s.current.cards[static_cast<std::size_t>(card)]
               : nullptr;
}

}  // namespace

// ---- test control ----

void SimReset() {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.initialised = false;
    s.current = Description();
    ++s.generation;
    s.loadedFrom = Source();
    s.lastReadOk = false;
    s.lastText.clear();
    s.haveOverrideText = false;
    s.overrideText.clear();
    s.haveOverridePath = false;
    s.overridePath.clear();
    s.benchText = kSimDefaultBench;
    s.calls.clear();
    s.messages.clear();
    s.hook = nullptr;
    s.hookContext = nullptr;
    s.filledTable = nullptr;
    s.filledCards.clear();
}

bool SimLoadDescription(const char* text) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.haveOverrideText = true;
    s.overrideText = text != nullptr ? text : "";
    s.initialised = true;
    return LoadFrom(s, CurrentSource(s));
}

void SimUseCardsFile(const char* path) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.haveOverrideText = false;
    s.overrideText.clear();
    s.haveOverridePath = path != nullptr;
    s.overridePath = path != nullptr ? path : "";
}

bool SimIsInitialised() {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.initialised;
}

std::string SimPortName(int card, int port) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const SimPort* found = PortAt(s, card, port);
    return found != nullptr ? found->name : std::string();
}

std::uint32_t SimPortNumber(int card, int port) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const SimPort* found = PortAt(s, card, port);
    return found != nullptr ? found->number : 0;
}

bool SimCardEnabled(int card) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const SimCard* found = CardAt(s, card);
    return found != nullptr && found->enabled;
}

bool SimPortEnabled(int card, int port) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    const SimPort* found = PortAt(s, card, port);
    return found != nullptr && found->enabled;
}

bool SimSetFailRename(int card, int port, bool fail) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    SimPort* found = PortAt(s, card, port);
    if (found != nullptr) {
        found->failRename = fail;
    }
    return found != nullptr;
}

bool SimSetCardPresent(int card, bool present) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    SimCard* found = CardAt(s, card);
    if (found != nullptr) {
        found->present = present;
    }
    return found != nullptr;
}

void SimSetChangeHook(SimChangeHook hook, void* context) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.hook = hook;
    s.hookContext = context;
}

int SimCallCount() {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return static_cast<int>(s.calls.size());
}

SimCall SimCallAt(int index) {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (index < 0 || static_cast<std::size_t>(index) >= s.calls.size()) {
        return NewCall(SimCallKind::init);
    }
    return s.calls[static_cast<std::size_t>(index)];
}

void SimClearCalls() {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.calls.clear();
}

std::string SimAllMessages() {
    SimState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    std::string text;
    for (const std::string& message : s.messages) {
        text += message;
        text += '\n';
    }
    return text;
}

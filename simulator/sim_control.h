// Test control of the card simulator. Native tests link the simulator in
// directly and use these routines to choose the cards it reports, look at the
// calls the program made and at the state those calls left behind, and make
// renames fail or status changes wait on the test.
//
// Cards and ports are addressed by their index in the description (the order
// of "cards" and "ports"), not by the slot an enumeration gave them.
// Every routine is safe to call from any thread while the program calls the
// library from another.
#pragma once

#include <cstdint>
#include <string>

enum class SimCallKind { init, enumerate, change, modify, deinit };

struct SimCall {
    SimCallKind kind;
    long result;  // what the library function returned
    // enumerate
    std::uint32_t category;
    std::uint8_t order;
    std::uint32_t capacity;
    // change: card and port decoded from the device information (-1 when it was
    // not recognised; port -1 for the whole card)
    int card;
    int port;
    std::uint32_t enable;
    std::uint32_t timeMs;
    std::uint32_t delayMs;  // the simulated wait: min(statusDelayMs, timeMs)
    // modify
    char portName[64];
    std::uint16_t number;
};

// Back to the start: not initialised, no cards, empty call and message logs, no
// hook, and the card source back to KESTROVA_SIM_CARDS or the built-in bench.
void SimReset();

// Makes text the card source (instead of KESTROVA_SIM_CARDS or the built-in
// bench) and loads it as InitDevManagerLib would; the library counts as
// initialised. Renames are saved back into this text. False when the text is
// not a valid description (the library then reports no cards).
bool SimLoadDescription(const char* text);
// Makes the file at path (UTF-8) the card source (nullptr: back to the
// environment). Takes effect at the next InitDevManagerLib.
void SimUseCardsFile(const char* path);

bool SimIsInitialised();
std::string SimPortName(int card, int port);
std::uint32_t SimPortNumber(int card, int port);

// Enabled state left by ChangeDeviceStatus (all enabled after a load).
bool SimCardEnabled(int card);
bool SimPortEnabled(int card, int port);

// Makes ModifyCOMName fail for one port (as "failRename" does); false when
// there is no such port.
bool SimSetFailRename(int card, int port, bool fail);
// An absent card is left out of enumerations, as an unplugged one would be.
bool SimSetCardPresent(int card, bool present);

// Called by ChangeDeviceStatus on the caller's thread after the state has
// changed and before the simulated wait, and by ModifyCOMName after its
// rename (or its failure), with the simulator unlocked, so the hook may call
// any of these routines. nullptr removes it.
using SimChangeHook = void (*)(void* context, const SimCall& call);
void SimSetChangeHook(SimChangeHook hook, void* context);

// The calls made since the last reset, oldest first.
int SimCallCount();
SimCall SimCallAt(int index);
void SimClearCalls();

// The problems the simulator reported (also written to stderr), oldest first.
std::string SimAllMessages();

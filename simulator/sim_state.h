// The card simulator: the five functions of the device-manager library over a
// JSON description of cards (see README.md). It keeps the description, the
// enabled state of every card and port, and a log of the calls in one state
// guarded by a mutex, because the program calls it from its worker thread
// while tests look at it from theirs. No exception leaves an exported function.
//
// The simulator's files: description.cpp reads a description, files.cpp
// reads and saves it where it came from (a cards file with its change log, or
// a text), library.cpp is the five functions
// and the records they fill, control.cpp the routines of sim_control.h. This
// header holds the state they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "inventory/devmgr.h"
#include "simulator/sim_control.h"

extern const char kSimDefaultBench[];

namespace sim {

using Json = nlohmann::ordered_json;

constexpr std::uint32_t kInfoMagic = 0x4D49534Bu;  // "KSIM"
constexpr std::uint32_t kSetMagic = 0x5445534Bu;   // "KSET"
constexpr unsigned kMaxHubDepth = 6;               // locationPath elements 3 to 8
constexpr unsigned kFirstHubElement = 3;
constexpr std::int64_t kMaxStatusDelayMs = 600000;
constexpr std::int64_t kMaxComNumber = 65535;
// Deep enough for any description; a deeper one would overflow the stack of
// the JSON library's recursive copy and dump.
constexpr int kMaxNesting = 64;

struct SimPort {
    std::string name;
    std::uint32_t number = 0;
    bool cdc = false;
    std::string label;
    std::string description;
    std::string vendor;
    bool failRename = false;
    bool enabled = true;
};

struct SimCard {
    std::uint32_t category = kCategoryUsb;
    std::string type;
    std::string name;
    std::string usbId;
    std::uint8_t locationNumber = 0;
    std::string locationText;
    std::uint16_t hubPath[kMaxHubDepth] = {};
    unsigned hubDepth = 0;
    bool singlePort = false;
    std::vector<SimPort> ports;
    bool enabled = true;
    bool present = true;
};

struct Description {
    std::vector<SimCard> cards;
    Json document;  // kept as read, so a rename saves every key back, known or not
    std::uint32_t statusDelayMs = 0;
    bool comDb = false;
};

// Where the description comes from: a file (KESTROVA_SIM_CARDS or a test's
// choice) or a text in memory (the built-in bench or a test's text). A rename
// is saved back to the same place.
struct Source {
    bool isFile = false;
    std::string path;
    std::string* text = nullptr;
    std::string origin;
};

// One change to the cards by position: a port's new number (and with it its
// name COM<number>), or a card's or port's enabled state.
struct Change {
    enum class Kind { rename, enabled };
    Kind kind = Kind::rename;
    std::uint32_t card = 0;
    std::int32_t port = -1;   // -1: the whole card (enabled only)
    std::uint32_t value = 0;  // the number, or 1 enabled and 0 disabled
};

struct SimState {
    std::mutex lock;
    bool initialised = false;
    Description current;
    std::uint32_t generation = 0;
    Source loadedFrom;
    bool lastReadOk = false;  // file sources: what the cards were loaded from,
    std::string lastText;     // and the change log beside it as last read or
    std::string logText;      // written, to notice a change by another process
    bool logApplies = false;  // the log was written for lastText
    bool haveOverrideText = false;
    std::string overrideText;
    bool haveOverridePath = false;
    std::string overridePath;
    std::string benchText = kSimDefaultBench;  // renames without a file live here
    std::vector<SimCall> calls;
    std::vector<std::string> messages;
    SimChangeHook hook = nullptr;
    void* hookContext = nullptr;
    // The table the last enumeration filled: its address, the card of each
    // slot written and the load they came from, so that ModifyCOMName can tell
    // which port a record is.
    const DeviceRecord* filledTable = nullptr;
    std::vector<std::uint32_t> filledCards;
    std::uint32_t filledGeneration = 0;
};

// The one state, and the reports of problems (library.cpp).
SimState& State();
[[gnu::format(gnu_printf, 2, 3)]] void Report(SimState& s, const char* format, ...);

// Reading a description (description.cpp).
class DescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
std::size_t Utf8Cut(const std::string& text, std::size_t limit);
Description ParseDescription(SimState& s, const std::string& text);

// The cards source (files.cpp).
Source CurrentSource(SimState& s);
bool LoadFrom(SimState& s, const Source& source);
void RefreshFromFile(SimState& s);
// Makes the change and keeps it where the cards came from: one line appended
// to the cards file's change log, or the text rewritten. False, and nothing
// changed, when it cannot be kept.
bool SaveChange(SimState& s, const Change& change, std::string& error);

// The change log's text (change_log.cpp).
constexpr inline char kChangeLogMagic[] = "kestrova-sim-log 1";
constexpr inline std::size_t kChangeLineSize = 64;
inline std::string LogPath(const std::string& cards) { return cards + ".log"; }
std::string LogHeader(const std::string& base);
std::string ChangeLine(const Change& change);
bool ParseChange(const std::string& line, Change& change);
bool Exists(const Description& d, const Change& change);
bool ApplyChange(Description& d, const Change& change);
// Replays a log's whole lines over d; a bad line is reported and skipped.
void Replay(SimState& s, Description& d, const std::string& log);
// Folds the change log into the cards file (DeinitDevManagerLib).
void FoldChanges(SimState& s);

// The calls' log (library.cpp).
SimCall NewCall(SimCallKind kind);

}  // namespace sim

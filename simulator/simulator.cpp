// The card simulator: the five functions of the device-manager library over a
// JSON description of cards (see README.md). It keeps the description, the
// enabled state of every card and port, and a log of the calls in one state
// guarded by a mutex, because the program calls it from its worker thread
// while tests look at it from theirs. No exception leaves an exported function.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#include <chrono>
#include <cstdlib>
#include <thread>
#endif

#include <nlohmann/json.hpp>

#include "inventory/devmgr.h"
#include "simulator/sim_control.h"

extern const char kSimDefaultBench[];

namespace {

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

// What devInfo holds: the card and port it was written for, and the load it
// belongs to, so a value from before a reload is refused.
struct DevInfo {
    std::uint32_t magic;
    std::uint32_t generation;
    std::uint32_t card;
    std::int32_t port;  // -1: the whole card
    std::uint8_t unused[16];
};
static_assert(sizeof(DevInfo) == sizeof(PortRecord::devInfo));
static_assert(sizeof(DevInfo) == sizeof(DeviceRecord::devInfo));

// Where the description comes from: a file (KESTROVA_SIM_CARDS or a test's
// choice) or a text in memory (the built-in bench or a test's text). A rename
// is saved back to the same place.
struct Source {
    bool isFile = false;
    std::string path;
    std::string* text = nullptr;
    std::string origin;
};

struct SimState {
    std::mutex lock;
    bool initialised = false;
    Description current;
    std::uint32_t generation = 0;
    Source loadedFrom;
    bool lastReadOk = false;  // file sources: what the cards were loaded from, to
    std::string lastText;     // notice a save by another process
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

SimState& State() {
    static SimState state;
    return state;
}

void WriteOut(const char* text) {
    char line[2048];
    std::snprintf(line, sizeof line, "card simulator: %s\n", text);
#if defined(_WIN32)
    OutputDebugStringA(line);
#endif
    std::fputs(line, stderr);
    std::fflush(stderr);
}

// Reports a problem; the caller holds the lock.
[[gnu::format(gnu_printf, 2, 3)]] void Report(SimState& s, const char* format, ...) {
    char text[1536];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    WriteOut(text);
    s.messages.emplace_back(text);
}

// Reports from a catch block, where the lock may be unusable.
void ReportUnlocked(const char* what) {
    try {
        SimState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        Report(s, "%s", what);
    } catch (...) {
        WriteOut(what);
    }
}

class DescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn, gnu::format(gnu_printf, 2, 3)]] void Fail(const std::string& where, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    throw DescriptionError(where + ": " + text);
}

std::string Member(const std::string& where, const char* key) {
    return where.empty() ? std::string(key) : where + "." + key;
}

std::string Element(const std::string& where, std::size_t index) { return where + "[" + std::to_string(index) + "]"; }

const Json* Find(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

// Longest prefix of valid UTF-8 text of at most limit bytes that ends on a
// character boundary.
std::size_t Utf8Cut(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0u) == 0x80u) {
        --cut;
    }
    return cut;
}

void WarnUnknownKeys(SimState& s, const Json& object, const std::string& where,
                     std::initializer_list<const char*> known) {
    for (const auto& item : object.items()) {
        const bool isKnown =
            std::any_of(known.begin(), known.end(), [&](const char* key) { return item.key() == key; });
        if (!isKnown) {
            Report(s, "%s: %s: unknown key \"%s\" ignored", s.loadedFrom.origin.c_str(),
                   where.empty() ? "description" : where.c_str(), item.key().c_str());
        }
    }
}

// A text that must fit a record field of width bytes, terminator included.
std::string TextValue(SimState& s, const Json& object, const char* key, std::size_t width, const std::string& where,
                      bool required) {
    const std::string path = Member(where, key);
    const Json* value = Find(object, key);
    if (value == nullptr) {
        if (required) {
            Fail(path, "missing");
        }
        return std::string();
    }
    if (!value->is_string()) {
        Fail(path, "expected a text");
    }
    std::string text = value->get<std::string>();
    const std::size_t cut = Utf8Cut(text, width - 1);
    if (cut < text.size()) {
        Report(s, "%s: %s: %zu bytes do not fit in %zu, cut to %zu", s.loadedFrom.origin.c_str(), path.c_str(),
               text.size(), width - 1, cut);
        text.resize(cut);
    }
    return text;
}

std::int64_t IntegerOf(const Json& value, std::int64_t low, std::int64_t high, const std::string& path) {
    std::int64_t number = 0;
    if (value.is_number_unsigned()) {
        const auto big = value.get<std::uint64_t>();
        if (big > static_cast<std::uint64_t>(high)) {
            Fail(path, "%llu is out of range (%lld to %lld)", static_cast<unsigned long long>(big),
                 static_cast<long long>(low), static_cast<long long>(high));
        }
        number = static_cast<std::int64_t>(big);
    } else if (value.is_number_integer()) {
        number = value.get<std::int64_t>();
    } else {
        Fail(path, "expected a whole number from %lld to %lld", static_cast<long long>(low),
             static_cast<long long>(high));
    }
    if (number < low || number > high) {
        Fail(path, "%lld is out of range (%lld to %lld)", static_cast<long long>(number), static_cast<long long>(low),
             static_cast<long long>(high));
    }
    return number;
}

std::int64_t IntegerValue(const Json& object, const char* key, std::int64_t low, std::int64_t high,
                          std::int64_t fallback, const std::string& where) {
    const Json* value = Find(object, key);
    return value != nullptr ? IntegerOf(*value, low, high, Member(where, key)) : fallback;
}

bool FlagValue(const Json& object, const char* key, bool fallback, const std::string& where) {
    const Json* value = Find(object, key);
    if (value == nullptr) {
        return fallback;
    }
    if (!value->is_boolean()) {
        Fail(Member(where, key), "expected true or false");
    }
    return value->get<bool>();
}

const Json& ArrayValue(const Json& object, const char* key, const std::string& where) {
    static const Json empty = Json::array();
    const Json* value = Find(object, key);
    if (value == nullptr) {
        return empty;
    }
    if (!value->is_array()) {
        Fail(Member(where, key), "expected a list");
    }
    return *value;
}

std::uint32_t CategoryValue(const Json& card, const std::string& where) {
    const std::string path = Member(where, "category");
    const Json* value = Find(card, "category");
    if (value == nullptr) {
        Fail(path, "missing");
    }
    if (!value->is_string()) {
        Fail(path, "expected \"usb\", \"pci\" or \"ble\"");
    }
    std::string name = value->get<std::string>();
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (name == "usb") {
        return kCategoryUsb;
    }
    if (name == "pci") {
        return kCategoryPci;
    }
    if (name == "ble" || name == "ethernet") {
        return kCategoryBleEthernet;
    }
    Fail(path, "\"%s\" is not \"usb\", \"pci\" or \"ble\"", value->get<std::string>().c_str());
}

// The number at the end of a port name ("COM7" -> 7); 0 when there is none.
std::uint64_t NumberInName(const std::string& name) {
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') {
        --start;
    }
    std::uint64_t number = 0;
    for (std::size_t i = start; i < name.size(); ++i) {
        number = std::min<std::uint64_t>(number * 10 + static_cast<unsigned>(name[i] - '0'), 1u << 30);
    }
    return number;
}

SimPort ParsePort(SimState& s, const Json& item, const std::string& where) {
    if (!item.is_object()) {
        Fail(where, "expected an object");
    }
    WarnUnknownKeys(s, item, where,
                    {"name", "number", "cdc", "label", "description", "vendor", "failRename", "enabled"});
    SimPort port;
    port.name = TextValue(s, item, "name", sizeof(PortRecord::portName), where, true);
    if (port.name.empty()) {
        Fail(Member(where, "name"), "empty");
    }
    const std::uint64_t fromName = NumberInName(port.name);
    if (Find(item, "number") == nullptr && fromName > static_cast<std::uint64_t>(kMaxComNumber)) {
        Fail(Member(where, "name"), "the number in \"%s\" is out of range (0 to %lld); give \"number\"",
             port.name.c_str(), static_cast<long long>(kMaxComNumber));
    }
    port.number = static_cast<std::uint32_t>(
        IntegerValue(item, "number", 0, kMaxComNumber, static_cast<std::int64_t>(fromName), where));
    port.cdc = FlagValue(item, "cdc", false, where);
    port.label = TextValue(s, item, "label", sizeof(PortRecord::portLabel), where, false);
    port.description = TextValue(s, item, "description", sizeof(PortRecord::description), where, false);
    port.vendor = TextValue(s, item, "vendor", sizeof(PortRecord::vendor), where, false);
    port.failRename = FlagValue(item, "failRename", false, where);
    port.enabled = FlagValue(item, "enabled", true, where);
    return port;
}

SimCard ParseCard(SimState& s, const Json& item, const std::string& where) {
    if (!item.is_object()) {
        Fail(where, "expected an object");
    }
    WarnUnknownKeys(s, item, where,
                    {"category", "type", "name", "usbId", "locationNumber", "locationText", "hubPath", "singlePort",
                     "ports", "enabled"});
    SimCard card;
    card.category = CategoryValue(item, where);
    card.type = TextValue(s, item, "type", sizeof(DeviceRecord::typeLabel), where, false);
    card.name = TextValue(s, item, "name", sizeof(DeviceRecord::deviceName), where, false);
    card.usbId = TextValue(s, item, "usbId", sizeof(DeviceRecord::usbId), where, false);
    card.locationNumber = static_cast<std::uint8_t>(IntegerValue(item, "locationNumber", 0, 255, 0, where));
    card.enabled = FlagValue(item, "enabled", true, where);
    card.locationText = TextValue(s, item, "locationText", sizeof(DeviceRecord::locationText), where, false);
    const Json& hubs = ArrayValue(item, "hubPath", where);
    const std::string hubWhere = Member(where, "hubPath");
    if (hubs.size() > kMaxHubDepth) {
        Fail(hubWhere, "%zu hub ports, at most %u fit", hubs.size(), kMaxHubDepth);
    }
    for (std::size_t k = 0; k < hubs.size(); ++k) {
        // 0 would end the path early, so a hub port number starts at 1.
        card.hubPath[k] = static_cast<std::uint16_t>(IntegerOf(hubs[k], 1, 65535, Element(hubWhere, k)));
    }
    card.hubDepth = static_cast<unsigned>(hubs.size());
    card.singlePort = FlagValue(item, "singlePort", false, where);
    const Json& ports = ArrayValue(item, "ports", where);
    const std::string portsWhere = Member(where, "ports");
    for (std::size_t j = 0; j < ports.size(); ++j) {
        card.ports.push_back(ParsePort(s, ports[j], Element(portsWhere, j)));
    }
    return card;
}

// Throws DescriptionError or the JSON library's exception on a bad text.
Description ParseDescription(SimState& s, const std::string& text) {
    Description result;
    // depth counts the lists and objects around the one that starts.
    const auto limitNesting = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start) &&
            depth >= kMaxNesting) {
            Fail("description", "values nested more than %d deep", kMaxNesting);
        }
        return true;
    };
    result.document = Json::parse(text, limitNesting, true, true);
    const Json& root = result.document;
    if (!root.is_object()) {
        Fail("description", "expected an object with \"cards\"");
    }
    WarnUnknownKeys(s, root, "", {"cards", "statusDelayMs", "comDb"});
    if (Find(root, "cards") == nullptr) {
        Fail("cards", "missing");
    }
    const Json& cards = ArrayValue(root, "cards", "");
    result.statusDelayMs = static_cast<std::uint32_t>(IntegerValue(root, "statusDelayMs", 0, kMaxStatusDelayMs, 0, ""));
    result.comDb = FlagValue(root, "comDb", false, "");
    for (std::size_t i = 0; i < cards.size(); ++i) {
        result.cards.push_back(ParseCard(s, cards[i], Element("cards", i)));
    }
    return result;
}

// ---- files ----

// Paths are UTF-8 everywhere; on Windows they go to the wide functions, so a
// path outside the ANSI code page works too.
#if defined(_WIN32)
std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    }
    return wide;
}

std::string Utf8(const wchar_t* wide, int wideLength) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(std::max(length, 0)), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, wide, wideLength, utf8.data(), length, nullptr, nullptr);
    }
    return utf8;
}
#endif

std::FILE* OpenFile(const std::string& path, bool forWriting) {
#if defined(_WIN32)
    return _wfopen(Wide(path).c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

void RemoveFile(const std::string& path) {
#if defined(_WIN32)
    _wremove(Wide(path).c_str());
#else
    std::remove(path.c_str());
#endif
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    std::FILE* file = OpenFile(path, false);
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    text.clear();
    char chunk[16384];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok) {
        error = "read error";
    }
    return ok;
}

// Writes a temporary file beside path and renames it over path, so a reader
// never sees half a description.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
#if defined(_WIN32)
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    const std::string temporary = path + ".tmp" + std::to_string(pid);
    std::FILE* file = OpenFile(temporary, true);
    if (file == nullptr) {
        error = std::string("cannot create ") + temporary + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        error = std::string("cannot write ") + temporary;
        RemoveFile(temporary);
        return false;
    }
#if defined(_WIN32)
    const std::wstring from = Wide(temporary);
    ok = MoveFileExW(from.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        error = "cannot replace the file (error " + std::to_string(GetLastError()) + ")";
    }
#else
    ok = std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = std::string("cannot replace the file: ") + std::strerror(errno);
    }
#endif
    if (!ok) {
        RemoveFile(temporary);
    }
    return ok;
}

std::string EnvironmentCardsPath() {
#if defined(_WIN32)
    // The process environment itself: the program's C runtime has its own copy.
    wchar_t path[4096];
    const DWORD length = GetEnvironmentVariableW(L"KESTROVA_SIM_CARDS", path, std::size(path));
    return length > 0 && length < std::size(path) ? Utf8(path, static_cast<int>(length)) : std::string();
#else
    const char* path = std::getenv("KESTROVA_SIM_CARDS");
    return path != nullptr ? std::string(path) : std::string();
#endif
}

Source CurrentSource(SimState& s) {
    Source source;
    if (s.haveOverrideText) {
        source.text = &s.overrideText;
        source.origin = "the test's description";
    } else if (s.haveOverridePath) {
        source.isFile = true;
        source.path = s.overridePath;
    } else if (std::string path = EnvironmentCardsPath(); !path.empty()) {
        source.isFile = true;
        source.path = path;
    } else {
        source.text = &s.benchText;
        source.origin = "the built-in bench";
    }
    if (source.isFile) {
        source.origin = source.path;
    }
    return source;
}

// Makes text the current description; a bad one leaves no cards. The
// present flags survive for the cards that still exist when keepState is set
// (a reload after another process saved the file); the enabled state is the
// description's own.
bool ApplyText(SimState& s, bool readOk, const std::string& text, const std::string& readError, bool keepState) {
    ++s.generation;
    Description previous = std::move(s.current);
    s.current = Description();
    const char* origin = s.loadedFrom.origin.c_str();
    if (!readOk) {
        Report(s, "%s: cannot be read (%s); no cards reported", origin, readError.c_str());
        return false;
    }
    try {
        s.current = ParseDescription(s, text);
    } catch (const DescriptionError& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    } catch (const nlohmann::json::exception& e) {
        Report(s, "%s: not a valid card description: %s; no cards reported", origin, e.what());
        return false;
    }
    if (keepState) {
        for (std::size_t i = 0; i < s.current.cards.size() && i < previous.cards.size(); ++i) {
            s.current.cards[i].present = previous.cards[i].present;
        }
    }
    return true;
}

bool LoadFrom(SimState& s, const Source& source) {
    s.loadedFrom = source;
    std::string text;
    std::string error;
    bool readOk = true;
    if (source.isFile) {
        readOk = ReadWholeFile(source.path, text, error);
    } else {
        text = *source.text;
    }
    s.lastReadOk = readOk;
    s.lastText = text;
    return ApplyText(s, readOk, text, error, false);
}

// Sees a save by another process: reloads when the file reads differently now.
void RefreshFromFile(SimState& s) {
    if (!s.loadedFrom.isFile) {
        return;
    }
    std::string text;
    std::string error;
    const bool readOk = ReadWholeFile(s.loadedFrom.path, text, error);
    if (readOk == s.lastReadOk && (!readOk || text == s.lastText)) {
        return;
    }
    s.lastReadOk = readOk;
    s.lastText = text;
    ApplyText(s, readOk, text, error, true);
}

// ---- records ----

// A description text as the library's narrow text: the ANSI code page on
// Windows, unchanged elsewhere.
std::string LibraryText(const std::string& utf8) {
#if defined(_WIN32)
    if (utf8.empty()) {
        return std::string();
    }
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) {
        return std::string();
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
    const int ansiLength = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (ansiLength <= 0) {
        return std::string();
    }
    std::string ansi(static_cast<std::size_t>(ansiLength), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), ansiLength, nullptr, nullptr);
    return ansi;
#else
    return utf8;
#endif
}

// Copies text into a field of width bytes with its terminator, cutting on a
// character boundary (a double-byte character of the code page or a UTF-8
// sequence is never split).
void CopyText(char* field, std::size_t width, const std::string& utf8) {
    // ASCII is the same text in every code page: no conversion, no cut to find.
    if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        const std::size_t keep = std::min(utf8.size(), width - 1);
        std::memcpy(field, utf8.data(), keep);
        field[keep] = '\0';
        return;
    }
    const std::string text = LibraryText(utf8);
#if defined(_WIN32)
    std::size_t keep = 0;
    while (keep < text.size()) {
        const std::size_t step = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[keep])) ? 2 : 1;
        if (keep + step > width - 1 || keep + step > text.size()) {
            break;
        }
        keep += step;
    }
#else
    const std::size_t keep = Utf8Cut(text, width - 1);
#endif
    std::memcpy(field, text.data(), keep);
    field[keep] = '\0';
}

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& utf8) {
    CopyText(field, N, utf8);
}

void FillDevInfo(std::uint8_t (&devInfo)[32], std::uint8_t (&devInfoSet)[8], std::uint32_t generation,
                 std::uint32_t card, std::int32_t port) {
    DevInfo info = {};
    info.magic = kInfoMagic;
    info.generation = generation;
    info.card = card;
    info.port = port;
    std::memcpy(devInfo, &info, sizeof info);
    const std::uint64_t set = static_cast<std::uint64_t>(kSetMagic) << 32 | card;
    std::memcpy(devInfoSet, &set, sizeof set);
}

// The ports a record holds: the first kMaxPorts of a card with more.
std::size_t RecordedPorts(const SimCard& card) { return std::min<std::size_t>(card.ports.size(), kMaxPorts); }

void FillRecord(const SimCard& card, std::uint32_t cardIndex, std::uint32_t generation, DeviceRecord& record) {
    std::memset(&record, 0, sizeof record);
    record.portCount = static_cast<std::uint8_t>(RecordedPorts(card));
    for (std::size_t j = 0; j < RecordedPorts(card); ++j) {
        const SimPort& port = card.ports[j];
        PortRecord& out = record.ports[j];
        CopyText(out.portName, port.name);
        out.portNumber = port.number;
        CopyText(out.portLabel, port.label);
        CopyText(out.description, port.description);
        out.isCdc = port.cdc ? 1 : 0;
        FillDevInfo(out.devInfo, out.devInfoSet, generation, cardIndex, static_cast<std::int32_t>(j));
        CopyText(out.vendor, port.vendor);
    }
    CopyText(record.usbId, card.usbId);
    CopyText(record.deviceName, card.name);
    record.singlePort = card.singlePort ? 1 : 0;
    FillDevInfo(record.devInfo, record.devInfoSet, generation, cardIndex, -1);
    for (unsigned k = 0; k < card.hubDepth; ++k) {
        record.locationPath[kFirstHubElement + k] = card.hubPath[k];
    }
    CopyText(record.locationText, card.locationText);
    CopyText(record.typeLabel, card.type);
    record.locationNumber = card.locationNumber;
}

// Category codes above 3 (the program passes 0xFFFFFFFF when its combo has no
// row) list every card, as 0 does.
bool InCategory(const SimCard& card, std::uint32_t category) {
    return category == kCategoryAll || category > kCategoryBleEthernet || card.category == category;
}

// ---- calls ----

SimCall NewCall(SimCallKind kind) {
    SimCall call = {};
    call.kind = kind;
    call.card = -1;
    call.port = -1;
    return call;
}

// The port whose record holds portName: the program passes the portName field
// of a record in the table the last enumeration filled. The address is mapped
// back to slot and port, never followed outside that table.
bool PortOfRecord(SimState& s, const char* portName, std::size_t& cardIndex, std::size_t& portIndex) {
    const auto address = reinterpret_cast<std::uintptr_t>(portName);
    const auto first = reinterpret_cast<std::uintptr_t>(s.filledTable);
    if (s.filledTable == nullptr || address < first ||
        (address - first) / sizeof(DeviceRecord) >= s.filledCards.size()) {
        Report(s, "ModifyCOMName: %.63s is not a port name in the table the last EnumComPortDev filled", portName);
        return false;
    }
    const std::size_t slot = (address - first) / sizeof(DeviceRecord);
    const std::size_t inRecord = (address - first) % sizeof(DeviceRecord);
    const std::size_t inPorts = inRecord - offsetof(DeviceRecord, ports);
    const std::size_t port = inPorts / sizeof(PortRecord);
    if (inRecord < offsetof(DeviceRecord, ports) || port >= kMaxPorts ||
        inPorts % sizeof(PortRecord) != offsetof(PortRecord, portName)) {
        Report(s, "ModifyCOMName: the name is not the portName field of a port record (slot %zu)", slot);
        return false;
    }
    if (s.filledGeneration != s.generation) {
        Report(s, "ModifyCOMName: %.63s: the table is from before the description was reloaded", portName);
        return false;
    }
    const std::uint32_t card = s.filledCards[slot];
    if (card >= s.current.cards.size() || port >= RecordedPorts(s.current.cards[card])) {
        Report(s, "ModifyCOMName: slot %zu has no port %zu", slot, port + 1);
        return false;
    }
    cardIndex = card;
    portIndex = port;
    return true;
}

#if defined(_WIN32)
// Claims the new number and releases the old one as the system's ports
// installer does after a rename. msports is looked up only here, so a
// description without "comDb" never loads it.
void UpdateComDatabase(SimState& s, std::uint32_t oldNumber, std::uint32_t newNumber) {
    using OpenFn = LONG(WINAPI*)(HANDLE*);
    using CloseFn = LONG(WINAPI*)(HANDLE);
    using ClaimFn = LONG(WINAPI*)(HANDLE, DWORD, BOOL, BOOL*);
    using ReleaseFn = LONG(WINAPI*)(HANDLE, DWORD);
    HMODULE library = LoadLibraryA("msports.dll");
    if (library == nullptr) {
        Report(s, "comDb: msports.dll not loaded (error %lu)", GetLastError());
        return;
    }
    const auto lookUp = [&](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(library, name)); };
    const auto open = reinterpret_cast<OpenFn>(lookUp("ComDBOpen"));
    const auto close = reinterpret_cast<CloseFn>(lookUp("ComDBClose"));
    const auto claim = reinterpret_cast<ClaimFn>(lookUp("ComDBClaimPort"));
    const auto release = reinterpret_cast<ReleaseFn>(lookUp("ComDBReleasePort"));
    HANDLE database = INVALID_HANDLE_VALUE;
    if (open == nullptr || close == nullptr || claim == nullptr || release == nullptr) {
        Report(s, "comDb: msports.dll lacks the COM database functions");
    } else if (const LONG opened = open(&database); opened != ERROR_SUCCESS) {
        Report(s, "comDb: ComDBOpen failed (%ld)", opened);
    } else {
        BOOL forced = FALSE;
        if (const LONG claimed = claim(database, newNumber, FALSE, &forced); claimed != ERROR_SUCCESS) {
            Report(s, "comDb: claiming COM%lu failed (%ld)", static_cast<unsigned long>(newNumber), claimed);
        }
        if (oldNumber != 0 && oldNumber != newNumber) {
            if (const LONG released = release(database, oldNumber); released != ERROR_SUCCESS) {
                Report(s, "comDb: releasing COM%lu failed (%ld)", static_cast<unsigned long>(oldNumber), released);
            }
        }
        close(database);
    }
    FreeLibrary(library);
}
#endif

// Makes next the description and saves it where it came from: the file,
// atomically, or the built-in text.
bool SaveDocument(SimState& s, Json next, std::string& error) {
    const std::string text = next.dump(2) + "\n";
    if (s.loadedFrom.isFile) {
        if (!WriteFileAtomically(s.loadedFrom.path, text, error)) {
            return false;
        }
        s.lastReadOk = true;
        s.lastText = text;
    } else {
        *s.loadedFrom.text = text;
    }
    s.current.document = std::move(next);
    return true;
}

// A disabled device stays disabled after the program that disabled it ends,
// so the state is kept in the description: "enabled": false while disabled.
void SaveEnabledState(SimState& s, const SimCall& call, bool enabled) {
    Json next = s.current.document;
    Json& card = next["cards"][static_cast<std::size_t>(call.card)];
    Json& entry = call.port < 0 ? card : card["ports"][static_cast<std::size_t>(call.port)];
    if (enabled) {
        entry.erase("enabled");
    } else {
        entry["enabled"] = false;
    }
    if (std::string error; !SaveDocument(s, std::move(next), error)) {
        Report(s, "ChangeDeviceStatus: %s: %s; the state is not saved", s.loadedFrom.path.c_str(), error.c_str());
    }
}

int RenamePort(SimState& s, const char* portName, std::uint16_t number) {
    if (!s.initialised) {
        Report(s, "ModifyCOMName called before InitDevManagerLib");
        return 0;
    }
    if (portName == nullptr) {
        Report(s, "ModifyCOMName: no port name");
        return 0;
    }
    if (number == 0) {
        Report(s, "ModifyCOMName(%.63s, 0): 0 is not a COM number", portName);
        return 0;
    }
    std::size_t c = 0;
    std::size_t p = 0;
    if (!PortOfRecord(s, portName, c, p)) {
        return 0;
    }
    SimPort& port = s.current.cards[c].ports[p];
    if (port.failRename) {
        Report(s, "ModifyCOMName: renaming %.63s fails, as the description asks", portName);
        return 0;
    }
    char newName[16];
    std::snprintf(newName, sizeof newName, "COM%u", static_cast<unsigned>(number));
    Json next = s.current.document;
    Json& entry = next["cards"][c]["ports"][p];
    entry["name"] = newName;
    entry["number"] = number;
    if (std::string error; !SaveDocument(s, std::move(next), error)) {
        Report(s, "ModifyCOMName: %s: %s; %.63s keeps its name", s.loadedFrom.path.c_str(), error.c_str(), portName);
        return 0;
    }
    const std::uint32_t oldNumber = port.number;
    port.name = newName;
    port.number = number;
#if defined(_WIN32)
    if (s.current.comDb) {
        UpdateComDatabase(s, oldNumber, number);
    }
#else
    static_cast<void>(oldNumber);
#endif
    return 1;
}

void SleepFor(std::uint32_t milliseconds) {
    if (milliseconds == 0) {
        return;
    }
#if defined(_WIN32)
    Sleep(milliseconds);
#else
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
#endif
}

// Finds the card and port that devInfo and set name; reports and returns
// false when they do not name one of the current load.
bool DecodeDevice(SimState& s, std::uint64_t set, const void* devInfo, SimCall& call) {
    if (devInfo == nullptr) {
        Report(s, "ChangeDeviceStatus: no device information");
        return false;
    }
    DevInfo info;
    std::memcpy(&info, devInfo, sizeof info);
    if (info.magic != kInfoMagic) {
        Report(s, "ChangeDeviceStatus: device information not written by EnumComPortDev");
        return false;
    }
    if (info.generation != s.generation) {
        Report(s, "ChangeDeviceStatus: device information from before the description was reloaded");
        return false;
    }
    if (info.card >= s.current.cards.size() ||
        (info.port >= 0 && static_cast<std::size_t>(info.port) >= s.current.cards[info.card].ports.size()) ||
        info.port < -1) {
        Report(s, "ChangeDeviceStatus: device information names no device");
        return false;
    }
    if (set != (static_cast<std::uint64_t>(kSetMagic) << 32 | info.card)) {
        Report(s, "ChangeDeviceStatus: the set does not belong to the device information");
        return false;
    }
    call.card = static_cast<int>(info.card);
    call.port = info.port;
    return true;
}

}  // namespace

// ---- the library ----

extern "C" {

DEVMGR_EXPORT int DEVMGR_CALL InitDevManagerLib(void) {
    try {
        SimState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        SimCall call = NewCall(SimCallKind::init);
        const bool loaded = LoadFrom(s, CurrentSource(s));
        s.initialised = true;
        call.result = loaded ? 1 : 0;
        s.calls.push_back(call);
        return loaded ? 1 : 0;
    } catch (...) {
        ReportUnlocked("InitDevManagerLib: internal error");
        return 0;
    }
}

// Order 1 sorts by port count, most ports first, keeping description order
// among equal counts; any order code but 1 keeps description order.
DEVMGR_EXPORT std::uint32_t DEVMGR_CALL EnumComPortDev(std::uint32_t category, std::uint8_t order, DeviceRecord* table,
                                                       std::uint32_t capacity) {
    try {
        SimState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        SimCall call = NewCall(SimCallKind::enumerate);
        call.category = category;
        call.order = order;
        call.capacity = capacity;
        std::uint32_t written = 0;
        if (!s.initialised) {
            Report(s, "EnumComPortDev called before InitDevManagerLib");
        } else if (table != nullptr && capacity != 0) {
            RefreshFromFile(s);
            std::vector<std::uint32_t> chosen;
            for (std::uint32_t i = 0; i < s.current.cards.size(); ++i) {
                const SimCard& card = s.current.cards[i];
                if (card.present && InCategory(card, category)) {
                    chosen.push_back(i);
                }
            }
            if (order == kOrderByPortCount) {
                std::stable_sort(chosen.begin(), chosen.end(), [&](std::uint32_t a, std::uint32_t b) {
                    return s.current.cards[a].ports.size() > s.current.cards[b].ports.size();
                });
            }
            written = static_cast<std::uint32_t>(std::min<std::size_t>(chosen.size(), capacity));
            if (chosen.size() > written) {
                Report(s, "EnumComPortDev: %zu cards, a table of %lu; the last %zu left out", chosen.size(),
                       static_cast<unsigned long>(capacity), chosen.size() - written);
            }
            s.filledTable = table;
            s.filledCards.assign(chosen.begin(), chosen.begin() + written);
            s.filledGeneration = s.generation;
            for (std::uint32_t k = 0; k < written; ++k) {
                const SimCard& card = s.current.cards[chosen[k]];
                if (card.ports.size() > kMaxPorts) {
                    Report(s, "EnumComPortDev: cards[%lu] has %zu ports, a record holds %u; the last %zu left out",
                           static_cast<unsigned long>(chosen[k]), card.ports.size(), kMaxPorts,
                           card.ports.size() - kMaxPorts);
                }
                FillRecord(card, chosen[k], s.generation, table[k]);
            }
        }
        call.result = written;
        s.calls.push_back(call);
        return written;
    } catch (...) {
        ReportUnlocked("EnumComPortDev: internal error");
        return 0;
    }
}

DEVMGR_EXPORT int DEVMGR_CALL ChangeDeviceStatus(std::uint64_t devInfoSet, void* devInfo, std::uint32_t enable,
                                                 std::uint32_t timeMs) {
    try {
        SimState& s = State();
        SimCall call = NewCall(SimCallKind::change);
        call.enable = enable;
        call.timeMs = timeMs;
        SimChangeHook hook = nullptr;
        void* hookContext = nullptr;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            bool ok = false;
            if (!s.initialised) {
                Report(s, "ChangeDeviceStatus called before InitDevManagerLib");
            } else if (enable > 1) {
                Report(s, "ChangeDeviceStatus: enable is %lu, not 0 or 1", static_cast<unsigned long>(enable));
            } else {
                ok = DecodeDevice(s, devInfoSet, devInfo, call);
            }
            if (ok) {
                SimCard& card = s.current.cards[static_cast<std::size_t>(call.card)];
                bool& enabled = call.port < 0 ? card.enabled : card.ports[static_cast<std::size_t>(call.port)].enabled;
                if (enabled != (enable != 0)) {
                    enabled = enable != 0;
                    SaveEnabledState(s, call, enabled);
                }
                call.delayMs = std::min(s.current.statusDelayMs, timeMs);
                hook = s.hook;
                hookContext = s.hookContext;
            }
            call.result = ok ? 1 : 0;
            s.calls.push_back(call);
        }
        if (hook != nullptr) {
            hook(hookContext, call);
        }
        SleepFor(call.delayMs);
        return static_cast<int>(call.result);
    } catch (...) {
        ReportUnlocked("ChangeDeviceStatus: internal error");
        return 0;
    }
}

DEVMGR_EXPORT int DEVMGR_CALL ModifyCOMName(char* portName, std::uint16_t number) {
    try {
        SimState& s = State();
        SimCall call = NewCall(SimCallKind::modify);
        SimChangeHook hook = nullptr;
        void* hookContext = nullptr;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (portName != nullptr) {
                std::snprintf(call.portName, sizeof call.portName, "%.63s", portName);
            }
            call.number = number;
            call.result = RenamePort(s, portName, number);
            s.calls.push_back(call);
            hook = s.hook;
            hookContext = s.hookContext;
        }
        if (hook != nullptr) {
            hook(hookContext, call);
        }
        return static_cast<int>(call.result);
    } catch (...) {
        ReportUnlocked("ModifyCOMName: internal error");
        return 0;
    }
}

DEVMGR_EXPORT int DEVMGR_CALL DeinitDevManagerLib(void) {
    try {
        SimState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        SimCall call = NewCall(SimCallKind::deinit);
        s.initialised = false;
        s.current = Description();
        s.loadedFrom = Source();
        ++s.generation;
        call.result = 1;
        s.calls.push_back(call);
        return 1;
    } catch (...) {
        ReportUnlocked("DeinitDevManagerLib: internal error");
        return 0;
    }
}

}  // extern "C"

// ---- test control ----

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

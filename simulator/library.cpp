// The five functions of the device-manager library over the description, the
// records they fill, and the reports of problems.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <optional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <chrono>
#include <thread>
#endif

#include "simulator/sim_state.h"

namespace sim {

namespace {

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

void WriteOut(const char* text) {
    char line[2048];
    std::snprintf(line, sizeof line, "card simulator: %s\n", text);
#if defined(_WIN32)
    OutputDebugStringA(line);
#endif
    std::fputs(line, stderr);
    std::fflush(stderr);
}

}  // namespace

SimState& State() {
    static SimState state;
    return state;
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

SimCall NewCall(SimCallKind kind) {
    SimCall call = {};
    call.kind = kind;
    call.card = -1;
    call.port = -1;
    return call;
}

namespace {

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
// The system's COM database through msports, looked up only here, so a
// description without "comDb" never loads it. Failures are reported; the
// rename goes on without the database.
class ComDatabase {
public:
    explicit ComDatabase(SimState& s) : s_(s), library_(LoadLibraryA("msports.dll")) {
        if (library_ == nullptr) {
            Report(s, "comDb: msports.dll not loaded (error %lu)", GetLastError());
            return;
        }
        const auto lookUp = [&](const char* name) {
            return reinterpret_cast<void (*)()>(GetProcAddress(library_, name));
        };
        const auto open = reinterpret_cast<LONG(WINAPI*)(HANDLE*)>(lookUp("ComDBOpen"));
        close_ = reinterpret_cast<LONG(WINAPI*)(HANDLE)>(lookUp("ComDBClose"));
        claim_ = reinterpret_cast<LONG(WINAPI*)(HANDLE, DWORD, BOOL, BOOL*)>(lookUp("ComDBClaimPort"));
        release_ = reinterpret_cast<LONG(WINAPI*)(HANDLE, DWORD)>(lookUp("ComDBReleasePort"));
        if (open == nullptr || close_ == nullptr || claim_ == nullptr || release_ == nullptr) {
            Report(s, "comDb: msports.dll lacks the COM database functions");
        } else if (const LONG opened = open(&database_); opened != ERROR_SUCCESS) {
            database_ = INVALID_HANDLE_VALUE;
            Report(s, "comDb: ComDBOpen failed (%ld)", opened);
        }
    }
    ~ComDatabase() {
        if (database_ != INVALID_HANDLE_VALUE) {
            close_(database_);
        }
        if (library_ != nullptr) {
            FreeLibrary(library_);
        }
    }
    ComDatabase(const ComDatabase&) = delete;
    ComDatabase& operator=(const ComDatabase&) = delete;

    // Claims the new number and releases the old one, as the system's ports
    // installer does after a rename.
    void Move(std::uint32_t oldNumber, std::uint32_t newNumber) {
        if (database_ == INVALID_HANDLE_VALUE) {
            return;
        }
        BOOL forced = FALSE;
        if (const LONG claimed = claim_(database_, newNumber, FALSE, &forced); claimed != ERROR_SUCCESS) {
            Report(s_, "comDb: claiming COM%lu failed (%ld)", static_cast<unsigned long>(newNumber), claimed);
        }
        if (oldNumber != 0 && oldNumber != newNumber) {
            if (const LONG released = release_(database_, oldNumber); released != ERROR_SUCCESS) {
                Report(s_, "comDb: releasing COM%lu failed (%ld)", static_cast<unsigned long>(oldNumber), released);
            }
        }
    }

private:
    SimState& s_;
    HMODULE library_;
    HANDLE database_ = INVALID_HANDLE_VALUE;
    LONG(WINAPI* close_)(HANDLE) = nullptr;
    LONG(WINAPI* claim_)(HANDLE, DWORD, BOOL, BOOL*) = nullptr;
    LONG(WINAPI* release_)(HANDLE, DWORD) = nullptr;
};
#endif

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
    const SimPort& port = s.current.cards[c].ports[p];
    if (port.failRename) {
        Report(s, "ModifyCOMName: renaming %.63s fails, as the description asks", portName);
        return 0;
    }
    const std::uint32_t oldNumber = port.number;
    Change change;
    change.kind = Change::Kind::rename;
    change.card = static_cast<std::uint32_t>(c);
    change.port = static_cast<std::int32_t>(p);
    change.value = number;
#if defined(_WIN32)
    // Opened before the change is saved, so that a process ending after the
    // save has only the claim and the release left undone.
    std::optional<ComDatabase> database;
    if (s.current.comDb) {
        database.emplace(s);
    }
#endif
    if (std::string error; !SaveChange(s, change, error)) {
        Report(s, "ModifyCOMName: %s: %s; %.63s keeps its name", s.loadedFrom.origin.c_str(), error.c_str(), portName);
        return 0;
    }
#if defined(_WIN32)
    if (database) {
        database->Move(oldNumber, number);
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

}  // namespace sim

using namespace sim;

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
                const SimCard& card = s.current.cards[static_cast<std::size_t>(call.card)];
                const bool enabled =
                    call.port < 0 ? card.enabled : card.ports[static_cast<std::size_t>(call.port)].enabled;
                Change change;
                change.kind = Change::Kind::enabled;
                change.card = static_cast<std::uint32_t>(call.card);
                change.port = call.port;
                change.value = enable;
                // The device changes even when its state cannot be kept.
                if (std::string error; enabled != (enable != 0) && !SaveChange(s, change, error)) {
                    Report(s, "ChangeDeviceStatus: %s: %s; the state is not saved", s.loadedFrom.origin.c_str(),
                           error.c_str());
                    if (static_cast<std::size_t>(call.card) < s.current.cards.size()) {
                        SimCard& same = s.current.cards[static_cast<std::size_t>(call.card)];
                        if (call.port < 0) {
                            same.enabled = enable != 0;
                        } else if (static_cast<std::size_t>(call.port) < same.ports.size()) {
                            same.ports[static_cast<std::size_t>(call.port)].enabled = enable != 0;
                        }
                    }
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
        FoldChanges(s);
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

#include "renumber/journal.h"

#include <bitset>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/platform.h"
#include "resources/strings.h"
#include "services/log.h"
#include "text/bounded_text.h"

Journal runJournal;

namespace {

using Json = nlohmann::json;

constexpr char kFormatName[] = "kestrova-journal";
constexpr int kFormatVersion = 2;
// Journals of version 1 have no card slots and no temporary numbers.
constexpr int kFirstVersion = 1;
constexpr std::size_t kFolderSize = 1024;

// The file's text, read or written; too big for a stack.
char journalText[kJournalFileSize];

void Refuse(char* reason, std::size_t size, const char* what) { FormatText(reason, size, "%s", what); }

bool HasExactly(const Json& object, std::initializer_list<const char*> keys) {
    if (!object.is_object() || object.size() != keys.size()) {
        return false;
    }
    for (const char* key : keys) {
        if (!object.contains(key)) {
            return false;
        }
    }
    return true;
}

bool ReadText(const Json& value, char* buffer, std::size_t size) {
    if (!value.is_string()) {
        return false;
    }
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() >= size || text.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

constexpr unsigned kLastCategory = 3;

bool ReadNumber(const Json& value, unsigned limit, unsigned* number) {
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > limit) {
        return false;
    }
    *number = static_cast<unsigned>(value.get<std::uint64_t>());
    return true;
}

bool ReadCards(const Json& list, bool current, Journal& journal) {
    if (!list.is_array() || list.size() > kMaxDevices) {
        return false;
    }
    journal.cardCount = 0;
    for (const Json& card : list) {
        JournalCard& entry = journal.cards[journal.cardCount++];
        unsigned slot = 0;
        bool fields = current ? HasExactly(card, {"usbId", "location", "slot"}) &&
                                    ReadNumber(card["slot"], kMaxDevices - 1, &slot)
                              : HasExactly(card, {"usbId", "location"});
        if (!fields || !ReadText(card["usbId"], entry.usbId, sizeof entry.usbId) ||
            !ReadText(card["location"], entry.location, sizeof entry.location)) {
            return false;
        }
        entry.slot = current ? static_cast<int>(slot) : -1;
    }
    return true;
}

// A port listed twice or without an old number would be put back twice, or
// to nothing: such a journal is not the program's.
bool ReadPorts(const Json& list, bool current, Journal& journal) {
    if (!list.is_array() || list.size() > kMaxDevices * kMaxPorts) {
        return false;
    }
    static std::bitset<kMaxDevices * kMaxPorts> listed;
    listed.reset();
    journal.portCount = 0;
    for (const Json& port : list) {
        JournalPort& entry = journal.ports[journal.portCount++];
        unsigned card = 0;
        unsigned position = 0;
        unsigned oldNumber = 0;
        unsigned target = 0;
        unsigned temp = 0;
        bool fields = current ? HasExactly(port, {"card", "port", "name", "number", "target", "renamed", "temp"}) &&
                                    ReadNumber(port["temp"], 0xFFFF, &temp)
                              : HasExactly(port, {"card", "port", "name", "number", "target", "renamed"});
        if (!fields || journal.cardCount == 0 || !ReadNumber(port["card"], journal.cardCount - 1, &card) ||
            !ReadNumber(port["port"], kMaxPorts - 1, &position) ||
            !ReadText(port["name"], entry.oldName, sizeof entry.oldName) ||
            !ReadNumber(port["number"], 0xFFFF, &oldNumber) || oldNumber == 0 ||
            !ReadNumber(port["target"], 0xFFFF, &target) || !port["renamed"].is_boolean() ||
            listed.test(card * kMaxPorts + position)) {
            return false;
        }
        listed.set(card * kMaxPorts + position);
        entry.card = static_cast<std::uint8_t>(card);
        entry.port = static_cast<std::uint8_t>(position);
        entry.oldNumber = static_cast<std::uint16_t>(oldNumber);
        entry.target = static_cast<std::uint16_t>(target);
        entry.renamed = port["renamed"].get<bool>();
        entry.temp = static_cast<std::uint16_t>(temp);
    }
    return true;
}

bool ReadJournal(const Json& root, Journal& journal) {
    unsigned category = 0;
    if (!HasExactly(root,
                    {"format", "version", "kind", "scope", "state", "interrupted", "category", "cards", "ports"}) ||
        root["format"] != kFormatName || (root["version"] != kFormatVersion && root["version"] != kFirstVersion) ||
        !root["interrupted"].is_boolean() || !ReadNumber(root["category"], kLastCategory, &category)) {
        return false;
    }
    bool current = root["version"] == kFormatVersion;
    journal.category = static_cast<std::uint8_t>(category);
    const Json& kind = root["kind"];
    const Json& scope = root["scope"];
    const Json& state = root["state"];
    if ((kind != "rename" && kind != "undo") || (scope != "port" && scope != "cards") ||
        (state != "running" && state != "finished")) {
        return false;
    }
    journal.kind = kind == "undo" ? JournalKind::Undo : JournalKind::Rename;
    journal.portOnly = scope == "port";
    journal.finished = state == "finished";
    journal.interrupted = root["interrupted"].get<bool>();
    return ReadCards(root["cards"], current, journal) && ReadPorts(root["ports"], current, journal) &&
           (!journal.portOnly || (journal.cardCount == 1 && journal.portCount == 1));
}

// "COM12" gives 12; anything else the library's number.
std::uint16_t NumberOf(const char* name, std::uint32_t reported) {
    std::uint16_t number = 0;
    if (ParseComName(name, &number)) {
        return number;
    }
    return static_cast<std::uint16_t>(reported <= 0xFFFF ? reported : 0);
}

bool CarriesNumber(const PortRecord& port, std::uint16_t number) {
    char name[kJournalNameSize];
    char expected[16];
    FormatText(expected, sizeof expected, "COM%u", static_cast<unsigned>(number));
    return std::strcmp(FieldText(port.portName, name, sizeof name), expected) == 0;
}

}  // namespace

std::size_t JournalToText(const Journal& journal, char* buffer, std::size_t size) {
    try {
        Json cards = Json::array();
        for (unsigned i = 0; i < journal.cardCount; ++i) {
            cards.push_back({{"usbId", journal.cards[i].usbId},
                             {"location", journal.cards[i].location},
                             {"slot", journal.cards[i].slot < 0 ? 0 : journal.cards[i].slot}});
        }
        Json ports = Json::array();
        for (unsigned i = 0; i < journal.portCount; ++i) {
            const JournalPort& port = journal.ports[i];
            ports.push_back({{"card", port.card},
                             {"port", port.port},
                             {"name", port.oldName},
                             {"number", port.oldNumber},
                             {"target", port.target},
                             {"renamed", port.renamed},
                             {"temp", port.temp}});
        }
        Json root = {{"format", kFormatName},
                     {"version", kFormatVersion},
                     {"kind", journal.kind == JournalKind::Undo ? "undo" : "rename"},
                     {"scope", journal.portOnly ? "port" : "cards"},
                     {"state", journal.finished ? "finished" : "running"},
                     {"interrupted", journal.interrupted},
                     {"category", journal.category},
                     {"cards", cards},
                     {"ports", ports}};
        // One port a line keeps the file readable for an administrator.
        std::string text = root.dump(1, '\t', false, Json::error_handler_t::replace);
        if (text.size() + 1 >= size) {
            return 0;
        }
        std::memcpy(buffer, text.data(), text.size());
        buffer[text.size()] = '\n';
        return text.size() + 1;
    } catch (const std::exception&) {
        return 0;
    }
}

bool JournalFromText(const char* text, std::size_t length, Journal& journal, char* reason, std::size_t size) {
    try {
        Json root = Json::parse(text, text + length, nullptr, false);
        if (root.is_discarded()) {
            Refuse(reason, size, kTextJournalUnreadable);
            return false;
        }
        if (!ReadJournal(root, journal)) {
            Refuse(reason, size, kTextJournalForeign);
            return false;
        }
        return true;
    } catch (const std::exception&) {
        Refuse(reason, size, kTextJournalForeign);
        return false;
    }
}

bool JournalPath(char* buffer, std::size_t size) {
    char folder[kFolderSize];
    return GetProgramDataFolder(folder, sizeof folder) &&
           FormatText(buffer, size, "%s\\Kestrova\\journal.json", folder);
}

JournalLoad LoadJournal(Journal& journal, char* reason, std::size_t size) {
    char path[kFolderSize + 32];
    if (!JournalPath(path, sizeof path)) {
        Refuse(reason, size, kTextJournalNoFolder);
        return JournalLoad::Refused;
    }
    std::size_t length = 0;
    switch (ReadWholeFile(path, journalText, sizeof journalText, &length)) {
    case FileRead::Missing:
        return JournalLoad::Missing;
    case FileRead::TooBig:
        Refuse(reason, size, kTextJournalTooBig);
        return JournalLoad::Refused;
    case FileRead::Failed:
        Refuse(reason, size, kTextJournalUnreadable);
        return JournalLoad::Refused;
    case FileRead::Done:
        break;
    }
    return JournalFromText(journalText, length, journal, reason, size) ? JournalLoad::Loaded : JournalLoad::Refused;
}

bool SaveJournal(const Journal& journal) {
    char folder[kFolderSize];
    char path[kFolderSize + 32];
    std::size_t length = JournalToText(journal, journalText, sizeof journalText);
    bool saved = length != 0 && GetProgramDataFolder(folder, sizeof folder) &&
                 FormatText(path, sizeof path, "%s\\Kestrova", folder) && CreateFolder(path) &&
                 AppendFormat(path, sizeof path, "\\journal.json") && SaveFileWhole(path, journalText, length);
    if (!saved) {
        LogLastError(kLogJournalNotSaved);
    }
    return saved;
}

void BeginJournal(const DeviceTable& table, int category, const RunMapping& mapping, bool portOnly, JournalKind kind) {
    Journal& journal = runJournal;
    journal.kind = kind;
    journal.portOnly = portOnly;
    journal.finished = false;
    journal.interrupted = false;
    journal.category = static_cast<std::uint8_t>(category >= 0 && category <= 3 ? category : 0);
    journal.cardCount = 0;
    journal.portCount = 0;
    // Journal card k is the k-th card the run switches off.
    std::uint8_t index[kMaxDevices] = {};
    for (unsigned d = mapping.firstCard; d < mapping.lastCard && d < kMaxDevices; ++d) {
        if (!portOnly && (mapping.idleCards >> d & 1u) != 0) {
            continue;
        }
        const DeviceRecord& card = table.slots[d];
        index[d] = static_cast<std::uint8_t>(journal.cardCount);
        JournalCard& entry = journal.cards[journal.cardCount++];
        entry.slot = static_cast<int>(d);
        FieldText(card.usbId, entry.usbId, sizeof entry.usbId);
        FieldText(card.locationText, entry.location, sizeof entry.location);
    }
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& target = mapping.ports[i];
        const PortRecord& port = table.slots[target.card].ports[target.port];
        JournalPort& entry = journal.ports[journal.portCount++];
        entry.card = index[target.card];
        entry.port = target.port;
        entry.target = target.target;
        entry.renamed = false;
        entry.temp = 0;
        FieldText(port.portName, entry.oldName, sizeof entry.oldName);
        entry.oldNumber = NumberOf(entry.oldName, port.portNumber);
    }
}

namespace {

// Whether every port the journal names on card k is on the record, with the
// old name or a number the run gave it.
bool FitsJournalPorts(const DeviceRecord& record, const Journal& journal, unsigned k) {
    char name[kJournalNameSize];
    for (unsigned i = 0; i < journal.portCount; ++i) {
        const JournalPort& entry = journal.ports[i];
        if (entry.card != k) {
            continue;
        }
        if (entry.port >= PortCountOf(record)) {
            return false;
        }
        const PortRecord& port = record.ports[entry.port];
        if (std::strcmp(FieldText(port.portName, name, sizeof name), entry.oldName) != 0 &&
            !CarriesNumber(port, entry.target) && (entry.temp == 0 || !CarriesNumber(port, entry.temp))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsJournalCard(const DeviceRecord& record, const JournalCard& card) {
    char usbId[kJournalIdSize];
    char location[kJournalLocationSize];
    return std::strcmp(FieldText(record.usbId, usbId, sizeof usbId), card.usbId) == 0 &&
           std::strcmp(FieldText(record.locationText, location, sizeof location), card.location) == 0;
}

unsigned MarkChangedPorts(Journal& journal, const DeviceTable& table) {
    int slots[kMaxDevices];
    for (unsigned k = 0; k < journal.cardCount; ++k) {
        slots[k] = FindJournalCard(table, journal, k);
    }
    unsigned changed = 0;
    for (unsigned i = 0; i < journal.portCount; ++i) {
        JournalPort& entry = journal.ports[i];
        int slot = slots[entry.card];
        if (slot < 0 || entry.port >= PortCountOf(table.slots[slot])) {
            changed += entry.renamed || entry.temp != 0 ? 1 : 0;
            continue;
        }
        const PortRecord& port = table.slots[slot].ports[entry.port];
        if (entry.renamed || (entry.target != entry.oldNumber && CarriesNumber(port, entry.target))) {
            entry.renamed = true;
            ++changed;
        } else if (entry.temp != 0 && CarriesNumber(port, entry.temp)) {
            ++changed;
        }
    }
    return changed;
}

int FindJournalCard(const DeviceTable& table, const Journal& journal, unsigned k) {
    const JournalCard& card = journal.cards[k];
    int found = -1;
    int candidates = 0;
    int fitting = 0;
    int fit = -1;
    for (std::uint32_t d = 0; d < table.count && d < kMaxDevices; ++d) {
        if (!IsJournalCard(table.slots[d], card)) {
            continue;
        }
        ++candidates;
        found = static_cast<int>(d);
        if (FitsJournalPorts(table.slots[d], journal, k)) {
            if (static_cast<int>(d) == card.slot) {
                return card.slot;
            }
            ++fitting;
            fit = static_cast<int>(d);
        }
    }
    if (candidates <= 1) {
        return found;
    }
    return fitting == 1 ? fit : kAmbiguousCard;
}

unsigned MapUndo(const Journal& journal, const DeviceTable& table, RunMapping& mapping, char* leftAlone,
                 std::size_t size) {
    mapping.count = 0;
    mapping.firstCard = kMaxDevices;
    mapping.lastCard = 0;
    leftAlone[0] = '\0';
    int slots[kMaxDevices];
    for (unsigned k = 0; k < journal.cardCount; ++k) {
        slots[k] = FindJournalCard(table, journal, k);
    }
    unsigned skipped = 0;
    // In table order, as a run over the cards renames them.
    for (std::uint32_t d = 0; d < table.count && d < kMaxDevices; ++d) {
        const DeviceRecord& card = table.slots[d];
        for (unsigned i = 0; i < journal.portCount; ++i) {
            const JournalPort& entry = journal.ports[i];
            if (slots[entry.card] != static_cast<int>(d) || entry.target == entry.oldNumber || entry.target == 0) {
                continue;
            }
            bool changed = entry.port < PortCountOf(card) &&
                           (CarriesNumber(card.ports[entry.port], entry.target) ||
                            (entry.temp != 0 && CarriesNumber(card.ports[entry.port], entry.temp)));
            if (!changed) {
                // A port the run never reached still has its old name: only
                // ports it renamed are reported.
                if (entry.renamed) {
                    ++skipped;
                    AppendFormat(leftAlone, size, "%u#P%u(COM%u),", d + 1, entry.port + 1u,
                                 static_cast<unsigned>(entry.target));
                }
                continue;
            }
            mapping.ports[mapping.count++] = PortTarget{static_cast<std::uint8_t>(d), entry.port, entry.oldNumber, 0};
            mapping.firstCard = d < mapping.firstCard ? d : mapping.firstCard;
            mapping.lastCard = d + 1;
        }
    }
    // Renamed ports on cards that are gone are left alone too.
    for (unsigned i = 0; i < journal.portCount; ++i) {
        const JournalPort& entry = journal.ports[i];
        if ((entry.renamed || entry.temp != 0) && slots[entry.card] < 0) {
            ++skipped;
            AppendFormat(leftAlone, size, "%s(%s)P%u(COM%u),", journal.cards[entry.card].usbId,
                         journal.cards[entry.card].location, entry.port + 1u, static_cast<unsigned>(entry.target));
        }
    }
    if (mapping.count == 0) {
        mapping.firstCard = 0;
    }
    // Cards between the first and the last that have no port to put back
    // stay switched on.
    mapping.idleCards = 0;
    for (unsigned d = mapping.firstCard; d < mapping.lastCard; ++d) {
        bool used = false;
        for (unsigned i = 0; i < mapping.count && !used; ++i) {
            used = mapping.ports[i].card == d;
        }
        if (!used) {
            mapping.idleCards |= std::uint64_t{1} << d;
        }
    }
    return skipped;
}

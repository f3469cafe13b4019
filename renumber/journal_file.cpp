// The journal file: its records (framing, checksums, reading every complete
// one) and the documents of older versions; writing a run's beginning and
// its steps.
#include "renumber/journal.h"

#include <array>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/platform.h"
#include "resources/strings.h"
#include "services/log.h"
#include "text/bounded_text.h"

namespace {

using Json = nlohmann::json;

constexpr char kFormatName[] = "kestrova-journal";
// Version 4: records, and changes of the COM database among the runs.
// Version 3 had records of renames and undos only; versions 1 and 2 were one
// document, rewritten at each step; version 1 had no card slots and no
// temporary numbers.
constexpr int kFormatVersion = 4;
constexpr int kRecordVersion = 3;
constexpr int kDocumentVersion = 2;
constexpr int kFirstVersion = 1;
constexpr std::size_t kFolderSize = 1024;
constexpr std::size_t kRecordHeadSize = 32;

// The file's text, read or written, and the runs read from it; too big for a
// stack.
char journalText[kJournalFileSize];
Journal scratch;
Journal kept;
// The journal's path as the last start or load of a journal found it, for
// the steps after it: looking the folder up costs about 0.5 ms under Wine,
// as much as a step's own write.
char stepPath[kFolderSize + 32];

constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}();

std::uint32_t Crc32(const char* data, std::size_t length) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        c = kCrcTable[(c ^ static_cast<unsigned char>(data[i])) & 0xFFu] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

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

// A change of the database: each number once, 1..4096.
bool ReadDatabaseChange(const Json& root, Journal& journal) {
    const Json& state = root["state"];
    const Json& list = root["numbers"];
    if (!root["interrupted"].is_boolean() || (state != "running" && state != "finished") || !list.is_array() ||
        list.size() > kMaxComDbNumbers) {
        return false;
    }
    static std::bitset<kMaxComDbNumbers + 1> listed;
    listed.reset();
    journal.kind = JournalKind::Database;
    journal.portOnly = false;
    journal.category = 0;
    journal.cardCount = 0;
    journal.portCount = 0;
    journal.numberCount = 0;
    journal.finished = state == "finished";
    journal.interrupted = root["interrupted"].get<bool>();
    for (const Json& entry : list) {
        unsigned number = 0;
        // "changed" is written since a change is kept ahead of a later run's record.
        bool marked = HasExactly(entry, {"number", "claimed", "changed"}) && entry["changed"].is_boolean();
        if ((!marked && !HasExactly(entry, {"number", "claimed"})) ||
            !ReadNumber(entry["number"], kMaxComDbNumbers, &number) || number == 0 || !entry["claimed"].is_boolean() ||
            listed.test(number)) {
            return false;
        }
        listed.set(number);
        journal.numbers[journal.numberCount++] = JournalNumber{
            static_cast<std::uint16_t>(number), entry["claimed"].get<bool>(), marked && entry["changed"].get<bool>()};
    }
    return true;
}

// A run as one object: a whole journal of an older version, or the record
// that begins a run.
bool ReadJournal(const Json& root, Journal& journal) {
    // A key that is not there must not be read of a const object.
    if (root.is_object() && root.contains("kind") && root.contains("version") && root["version"] == kFormatVersion &&
        root["kind"] == "comdb") {
        return HasExactly(root, {"format", "version", "kind", "state", "interrupted", "numbers"}) &&
               root["format"] == kFormatName && ReadDatabaseChange(root, journal);
    }
    journal.numberCount = 0;
    unsigned category = 0;
    if (!HasExactly(root,
                    {"format", "version", "kind", "scope", "state", "interrupted", "category", "cards", "ports"}) ||
        root["format"] != kFormatName || !root["interrupted"].is_boolean() ||
        !ReadNumber(root["category"], kLastCategory, &category)) {
        return false;
    }
    bool current = root["version"] != kFirstVersion;
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
}  // namespace

namespace {

Json RunToJson(const Journal& journal) {
    if (journal.kind == JournalKind::Database) {
        Json numbers = Json::array();
        for (unsigned i = 0; i < journal.numberCount; ++i) {
            numbers.push_back({{"number", journal.numbers[i].number},
                               {"claimed", journal.numbers[i].claimed},
                               {"changed", journal.numbers[i].changed}});
        }
        return {{"format", kFormatName},
                {"version", kFormatVersion},
                {"kind", "comdb"},
                {"state", journal.finished ? "finished" : "running"},
                {"interrupted", journal.interrupted},
                {"numbers", numbers}};
    }
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
    return {{"format", kFormatName},
            {"version", kFormatVersion},
            {"kind", journal.kind == JournalKind::Undo ? "undo" : "rename"},
            {"scope", journal.portOnly ? "port" : "cards"},
            {"state", journal.finished ? "finished" : "running"},
            {"interrupted", journal.interrupted},
            {"category", journal.category},
            {"cards", cards},
            {"ports", ports}};
}

// "#<length> <checksum> <object>\n": appends one record after used bytes;
// the new length, 0 when it does not fit.
std::size_t AppendRecord(const Json& object, char* buffer, std::size_t used, std::size_t size) {
    std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    char head[kRecordHeadSize];
    int headLength = std::snprintf(head, sizeof head, "#%zu %08x ", text.size(),
                                   static_cast<unsigned>(Crc32(text.data(), text.size())));
    std::size_t total = static_cast<std::size_t>(headLength) + text.size() + 1;
    if (headLength <= 0 || used + total >= size) {
        return 0;
    }
    std::memcpy(buffer + used, head, static_cast<std::size_t>(headLength));
    std::memcpy(buffer + used + headLength, text.data(), text.size());
    buffer[used + total - 1] = '\n';
    return used + total;
}

bool ApplyStep(const Json& record, Journal& run) {
    unsigned index = 0;
    unsigned number = 0;
    // A record without a step is not the program's (and reading a key that
    // is not there is not allowed on a const object).
    auto found = record.find("step");
    if (found == record.end()) {
        return false;
    }
    const Json& step = *found;
    if (step == "renamed" && HasExactly(record, {"step", "port"}) &&
        ReadNumber(record["port"], run.portCount == 0 ? 0 : run.portCount - 1, &index) && run.portCount > 0) {
        run.ports[index].renamed = true;
        run.ports[index].temp = 0;
        return true;
    }
    if (step == "temp" && HasExactly(record, {"step", "port", "number"}) && run.portCount > 0 &&
        ReadNumber(record["port"], run.portCount - 1, &index) && ReadNumber(record["number"], 0xFFFF, &number) &&
        number != 0) {
        run.ports[index].temp = static_cast<std::uint16_t>(number);
        return true;
    }
    if (step == "changed" && HasExactly(record, {"step", "number"}) && run.numberCount > 0 &&
        ReadNumber(record["number"], run.numberCount - 1, &index)) {
        run.numbers[index].changed = true;
        return true;
    }
    if (step == "enabled" && HasExactly(record, {"step", "card"}) && run.cardCount > 0 &&
        ReadNumber(record["card"], run.cardCount - 1, &index)) {
        return true;
    }
    if ((step == "finished" || step == "recovered") && HasExactly(record, {"step"})) {
        run.finished = true;
        run.interrupted = run.interrupted || step == "recovered";
        return true;
    }
    return false;
}

enum class Parse { Done, Torn, Foreign };

// The records of a journal file: the last run into last, the last one that
// changed something into changing when wanted (found says whether there is
// one). Every complete record counts; a torn one and what follows it were
// never written.
Parse ParseRecords(const char* text, std::size_t length, Journal& last, Journal* changing, bool* found) {
    bool haveRun = false;
    *found = false;
    std::size_t at = 0;
    while (at < length) {
        // "#", the length's digits, a blank, eight hexadecimal digits, a blank.
        std::size_t digit = at + 1;
        std::size_t size = 0;
        while (digit < length && text[digit] >= '0' && text[digit] <= '9' && size <= kJournalFileSize) {
            size = size * 10 + static_cast<std::size_t>(text[digit] - '0');
            ++digit;
        }
        std::size_t body = digit + 10;
        if (text[at] != '#' || digit == at + 1 || body > length || text[digit] != ' ' || text[body - 1] != ' ' ||
            size >= length - body || text[body + size] != '\n') {
            break;
        }
        std::uint32_t checksum = 0;
        bool hex = true;
        for (std::size_t i = digit + 1; i < body - 1; ++i) {
            char c = text[i];
            int value = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            hex = hex && value >= 0;
            checksum = checksum << 4 | static_cast<std::uint32_t>(value & 0xF);
        }
        if (!hex || checksum != Crc32(text + body, size)) {
            break;
        }
        Json record = Json::parse(text + body, text + body + size, nullptr, false);
        if (!record.is_object()) {
            return Parse::Foreign;
        }
        if (record.contains("format")) {
            if (haveRun && changing != nullptr && ChangedSomething(last)) {
                *changing = last;
                *found = true;
            }
            if ((record["version"] != kFormatVersion && record["version"] != kRecordVersion) ||
                !ReadJournal(record, last)) {
                return Parse::Foreign;
            }
            haveRun = true;
        } else if (!haveRun || !ApplyStep(record, last)) {
            return Parse::Foreign;
        }
        at = body + size + 1;
    }
    if (!haveRun) {
        return Parse::Torn;
    }
    if (changing != nullptr && ChangedSomething(last)) {
        *changing = last;
        *found = true;
    }
    return Parse::Done;
}

// A journal file's text: the last run, and the last one that changed
// something when changing is given.
bool ReadJournalText(const char* text, std::size_t length, Journal& last, Journal* changing, bool* found, char* reason,
                     std::size_t size) {
    *found = false;
    try {
        if (length > 0 && text[0] == '{') {
            Json root = Json::parse(text, text + length, nullptr, false);
            if (root.is_discarded()) {
                Refuse(reason, size, kTextJournalUnreadable);
                return false;
            }
            if ((root["version"] != kFirstVersion && root["version"] != kDocumentVersion) || !ReadJournal(root, last)) {
                Refuse(reason, size, kTextJournalForeign);
                return false;
            }
            if (changing != nullptr && ChangedSomething(last)) {
                *changing = last;
                *found = true;
            }
            return true;
        }
        switch (ParseRecords(text, length, last, changing, found)) {
        case Parse::Done:
            return true;
        case Parse::Torn:
            Refuse(reason, size, kTextJournalUnreadable);
            return false;
        case Parse::Foreign:
            break;
        }
    } catch (const std::exception&) {
    }
    Refuse(reason, size, kTextJournalForeign);
    return false;
}

}  // namespace

bool ChangedSomething(const Journal& run) {
    for (unsigned i = 0; i < run.portCount; ++i) {
        if (run.ports[i].renamed || run.ports[i].temp != 0) {
            return true;
        }
    }
    for (unsigned i = 0; i < run.numberCount; ++i) {
        if (run.numbers[i].changed) {
            return true;
        }
    }
    return false;
}

std::size_t JournalToText(const Journal& journal, char* buffer, std::size_t size) {
    try {
        return AppendRecord(RunToJson(journal), buffer, 0, size);
    } catch (const std::exception&) {
        return 0;
    }
}

bool JournalFromText(const char* text, std::size_t length, Journal& journal, char* reason, std::size_t size) {
    bool found = false;
    return ReadJournalText(text, length, journal, nullptr, &found, reason, size);
}

bool JournalPath(char* buffer, std::size_t size) {
    char folder[kFolderSize];
    return GetProgramDataFolder(folder, sizeof folder) &&
           FormatText(buffer, size, "%s\\Kestrova\\journal.json", folder);
}

JournalLoad LoadJournal(Journal& journal, char* reason, std::size_t size, bool changing) {
    char path[kFolderSize + 32];
    if (!JournalPath(path, sizeof path) || !FormatText(stepPath, sizeof stepPath, "%s", path)) {
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
    bool found = false;
    if (!ReadJournalText(journalText, length, changing ? scratch : journal, changing ? &journal : nullptr, &found,
                         reason, size)) {
        return JournalLoad::Refused;
    }
    return !changing || found ? JournalLoad::Loaded : JournalLoad::Missing;
}

bool StartJournal(const Journal& run) {
    char folder[kFolderSize];
    char path[kFolderSize + 32];
    static char reason[kJournalReasonSize];
    // What undo needs stays until this run has changed something: a run that
    // fails or is cut off before its first rename loses no undo.
    bool keep = LoadJournal(kept, reason, sizeof reason, true) == JournalLoad::Loaded;
    std::size_t length = 0;
    try {
        length = keep ? AppendRecord(RunToJson(kept), journalText, 0, sizeof journalText) : 0;
        if (!keep || length != 0) {
            length = AppendRecord(RunToJson(run), journalText, length, sizeof journalText);
        }
    } catch (const std::exception&) {
        length = 0;
    }
    bool saved = length != 0 && GetProgramDataFolder(folder, sizeof folder) &&
                 FormatText(path, sizeof path, "%s\\Kestrova", folder) && CreateFolder(path) &&
                 AppendFormat(path, sizeof path, "\\journal.json") && SaveFileWhole(path, journalText, length) &&
                 FormatText(stepPath, sizeof stepPath, "%s", path);
    if (!saved) {
        LogLastError(kLogJournalNotSaved);
    }
    return saved;
}

bool WriteJournalStep(JournalStep step, unsigned index, std::uint16_t number) {
    Json record;
    switch (step) {
    case JournalStep::Renamed:
        record = {{"step", "renamed"}, {"port", index}};
        break;
    case JournalStep::Temp:
        record = {{"step", "temp"}, {"port", index}, {"number", number}};
        break;
    case JournalStep::Enabled:
        record = {{"step", "enabled"}, {"card", index}};
        break;
    case JournalStep::Changed:
        record = {{"step", "changed"}, {"number", index}};
        break;
    case JournalStep::Finished:
        record = {{"step", "finished"}};
        break;
    case JournalStep::Recovered:
        record = {{"step", "recovered"}};
        break;
    }
    char line[kRecordHeadSize + 64];
    std::size_t length = AppendRecord(record, line, 0, sizeof line);
    // A card switched on needs no flush of its own: the next record's flush
    // or a recovery that switches it on again covers it.
    bool written = length != 0 && (stepPath[0] != '\0' || JournalPath(stepPath, sizeof stepPath)) &&
                   AppendToFile(stepPath, line, length, step != JournalStep::Enabled);
    if (!written) {
        LogLastError(kLogJournalNotSaved);
    }
    return written;
}

// The change log's lines: the header naming the cards text a log belongs
// to, one line a change, and their replay over a description.
#include <algorithm>
#include <charconv>
#include <cstdio>

#include "simulator/sim_state.h"

namespace sim {

std::string LogHeader(const std::string& base) {
    std::uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
    for (const char c : base) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    }
    char header[80];
    std::snprintf(header, sizeof header, "%s %zu %016llx\n", kChangeLogMagic, base.size(),
                  static_cast<unsigned long long>(hash));
    return header;
}

std::string ChangeLine(const Change& change) {
    char line[kChangeLineSize];
    std::snprintf(line, sizeof line, "%s %lu %ld %lu\n", change.kind == Change::Kind::rename ? "name" : "enabled",
                  static_cast<unsigned long>(change.card), static_cast<long>(change.port),
                  static_cast<unsigned long>(change.value));
    return line;
}

bool ParseChange(const std::string& line, Change& change) {
    long numbers[3] = {};
    std::size_t at = line.find(' ');
    const std::string kind = line.substr(0, at);
    for (long& number : numbers) {
        if (at == std::string::npos) {
            return false;
        }
        const char* first = line.data() + at + 1;
        const char* last = line.data() + line.size();
        const auto [end, failed] = std::from_chars(first, last, number);
        if (failed != std::errc() || end == first || (end != last && *end != ' ')) {
            return false;
        }
        at = end == last ? std::string::npos : static_cast<std::size_t>(end - line.data());
    }
    if (at != std::string::npos || numbers[0] < 0 || numbers[1] < -1 || numbers[1] > kMaxComNumber) {
        return false;
    }
    change.card = static_cast<std::uint32_t>(std::min<long>(numbers[0], 0x7FFFFFFF));
    change.port = static_cast<std::int32_t>(numbers[1]);
    change.value = static_cast<std::uint32_t>(std::max<long>(numbers[2], 0));
    if (kind == "name") {
        change.kind = Change::Kind::rename;
        return change.port >= 0 && numbers[2] >= 1 && numbers[2] <= kMaxComNumber;
    }
    change.kind = Change::Kind::enabled;
    return kind == "enabled" && (numbers[2] == 0 || numbers[2] == 1);
}

bool Exists(const Description& d, const Change& change) {
    return change.card < d.cards.size() &&
           (change.port < 0 || static_cast<std::size_t>(change.port) < d.cards[change.card].ports.size());
}

// Makes the change in the cards and in the document a fold writes back.
bool ApplyChange(Description& d, const Change& change) {
    if (!Exists(d, change)) {
        return false;
    }
    SimCard& card = d.cards[change.card];
    Json& cardEntry = d.document["cards"][change.card];
    if (change.kind == Change::Kind::rename) {
        char name[16];
        std::snprintf(name, sizeof name, "COM%lu", static_cast<unsigned long>(change.value));
        SimPort& port = card.ports[static_cast<std::size_t>(change.port)];
        port.name = name;
        port.number = change.value;
        Json& entry = cardEntry["ports"][static_cast<std::size_t>(change.port)];
        entry["name"] = name;
        entry["number"] = change.value;
        return true;
    }
    // A disabled device stays disabled after the program that disabled it
    // ends, so the state is kept in the description: "enabled": false.
    const bool enabled = change.value != 0;
    (change.port < 0 ? card.enabled : card.ports[static_cast<std::size_t>(change.port)].enabled) = enabled;
    Json& entry = change.port < 0 ? cardEntry : cardEntry["ports"][static_cast<std::size_t>(change.port)];
    if (enabled) {
        entry.erase("enabled");
    } else {
        entry["enabled"] = false;
    }
    return true;
}

// Replays the log's whole lines over d; a torn last line (a write cut short)
// is left out, and a line that makes no sense is reported and skipped.
void Replay(SimState& s, Description& d, const std::string& log) {
    std::size_t start = log.find('\n') + 1;
    for (std::size_t number = 2, end = 0; (end = log.find('\n', start)) != std::string::npos; ++number) {
        const std::string line = log.substr(start, end - start);
        start = end + 1;
        Change change;
        if (line.size() >= kChangeLineSize || !ParseChange(line, change) || !ApplyChange(d, change)) {
            Report(s, "%s: line %zu: \"%.63s\" is not a change to these cards; skipped",
                   LogPath(s.loadedFrom.path).c_str(), number, line.c_str());
        }
    }
}

}  // namespace sim

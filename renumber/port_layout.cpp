#include "renumber/port_layout.h"

#include <bitset>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>

#include "inventory/views.h"
#include "resources/strings.h"
#include "text/bounded_text.h"

namespace {

using Json = nlohmann::json;

constexpr unsigned kMaxComNumber = 0xFFFF;

// A whole JSON number within 1..limit.
bool WholeIn(const Json& value, std::uint64_t limit, std::uint64_t* number) {
    if (!value.is_number_unsigned() && !value.is_number_integer()) {
        return false;
    }
    if (value.is_number_integer() && !value.is_number_unsigned() && value.get<std::int64_t>() < 1) {
        return false;
    }
    std::uint64_t whole = value.get<std::uint64_t>();
    *number = whole;
    return whole >= 1 && whole <= limit;
}

// A string field of a card into room of N bytes; a missing optional field is
// empty.
template <std::size_t N>
bool ReadText(const Json& card, const char* key, bool required, char (&room)[N]) {
    room[0] = '\0';
    auto found = card.find(key);
    if (found == card.end()) {
        return !required;
    }
    if (!found->is_string()) {
        return false;
    }
    const std::string& text = found->get_ref<const std::string&>();
    if (text.size() >= N || text.find('\0') != std::string::npos) {
        return false;
    }
    std::memcpy(room, text.c_str(), text.size() + 1);
    return true;
}

bool ReadPath(const Json& card, LayoutCard& out) {
    out.pathLength = 0;
    auto found = card.find("locationPath");
    if (found == card.end()) {
        return true;
    }
    if (!found->is_array() || found->size() > kLayoutPathLength) {
        return false;
    }
    for (const Json& element : *found) {
        std::uint64_t port = 0;
        if (!WholeIn(element, 0xFFFF, &port)) {
            return false;
        }
        out.path[out.pathLength++] = static_cast<std::uint16_t>(port);
    }
    return true;
}

// Where the number of a port of the file was seen first: card and port, 1-based.
struct FirstSeen {
    std::uint8_t card;
    std::uint8_t port;
};

bool ReadPorts(const Json& card, unsigned index, LayoutCard& out, FirstSeen* seen, char* reason, std::size_t size) {
    auto found = card.find("ports");
    if (found == card.end() || !found->is_array() || found->size() > kMaxPorts) {
        FormatText(reason, size, kLayoutBadField, index + 1, "ports");
        return false;
    }
    std::uint64_t given = 0;
    out.portCount = 0;
    for (const Json& port : *found) {
        std::uint64_t position = 0;
        std::uint64_t number = 0;
        if (!port.is_object() || !port.contains("port") || !port.contains("number") ||
            !WholeIn(port["port"], kMaxPorts, &position) || !WholeIn(port["number"], kMaxComNumber, &number)) {
            FormatText(reason, size, kLayoutBadPort, index + 1, out.portCount + 1);
            return false;
        }
        if ((given >> (position - 1) & 1u) != 0) {
            FormatText(reason, size, kLayoutRepeatedPort, index + 1, static_cast<unsigned>(position));
            return false;
        }
        given |= std::uint64_t{1} << (position - 1);
        FirstSeen& first = seen[number];
        if (first.card != 0) {
            FormatText(reason, size, kLayoutRepeatedNumber, static_cast<unsigned>(number), first.card + 0u,
                       first.port + 0u, index + 1, static_cast<unsigned>(position));
            return false;
        }
        first = FirstSeen{static_cast<std::uint8_t>(index + 1), static_cast<std::uint8_t>(position)};
        // By position, as the table's ports are.
        unsigned at = out.portCount++;
        while (at > 0 && out.ports[at - 1].port > position - 1) {
            out.ports[at] = out.ports[at - 1];
            --at;
        }
        out.ports[at] = LayoutPort{static_cast<std::uint8_t>(position - 1), static_cast<std::uint16_t>(number)};
    }
    return true;
}

bool ReadCard(const Json& card, unsigned index, LayoutCard& out, FirstSeen* seen, char* reason, std::size_t size) {
    const char* bad = nullptr;
    if (!card.is_object()) {
        bad = "cards";
    } else if (!ReadText(card, "usbId", true, out.usbId)) {
        bad = "usbId";
    } else if (!ReadText(card, "location", true, out.location)) {
        bad = "location";
    } else if (!ReadText(card, "name", false, out.name)) {
        bad = "name";
    } else if (!ReadPath(card, out)) {
        bad = "locationPath";
    }
    if (bad != nullptr) {
        FormatText(reason, size, kLayoutBadField, index + 1, bad);
        return false;
    }
    return ReadPorts(card, index, out, seen, reason, size);
}

template <std::size_t N>
std::string Field(const char (&field)[N]) {
    char text[kUtf8Room<N>];
    return FieldText(field, text, sizeof text);
}

// The hub ports a record names, from the root; 0 of them when it has none.
unsigned HubPathOf(const DeviceRecord& card, std::uint16_t* path) {
    unsigned length = 0;
    for (unsigned e = kFirstHubElement; e <= kLastHubElement && card.locationPath[e] != 0; ++e) {
        path[length++] = card.locationPath[e];
    }
    return length;
}

// A layout card is a present card when its id, its location and (when the
// file names one) its hub path are the card's.
bool IsLayoutCard(const DeviceRecord& record, const LayoutCard& card) {
    char id[kUtf8Room<sizeof DeviceRecord::usbId>];
    char location[kUtf8Room<sizeof DeviceRecord::locationText>];
    if (std::strcmp(FieldText(record.usbId, id, sizeof id), card.usbId) != 0 ||
        std::strcmp(FieldText(record.locationText, location, sizeof location), card.location) != 0) {
        return false;
    }
    if (card.pathLength == 0) {
        return true;
    }
    std::uint16_t path[kLayoutPathLength];
    return HubPathOf(record, path) == card.pathLength &&
           std::memcmp(path, card.path, card.pathLength * sizeof path[0]) == 0;
}

// The layout's view of a present card: who it is, without its ports.
void DescribeCard(const DeviceRecord& record, LayoutCard& card) {
    FieldText(record.usbId, card.usbId, sizeof card.usbId);
    FieldText(record.locationText, card.location, sizeof card.location);
    FieldText(record.deviceName, card.name, sizeof card.name);
    card.pathLength = HubPathOf(record, card.path);
    card.portCount = 0;
}

Json CardIdentity(const LayoutCard& card) {
    Json path = Json::array();
    for (unsigned e = 0; e < card.pathLength; ++e) {
        path.push_back(card.path[e]);
    }
    Json identity = {{"usbId", card.usbId}, {"location", card.location}};
    if (card.pathLength != 0) {
        identity["locationPath"] = path;
    }
    identity["name"] = card.name;
    return identity;
}

std::string Dump(const Json& document) {
    std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
    text += '\n';
    return text;
}

bool FailWith(char* reason, std::size_t size, const char* text) {
    FormatText(reason, size, "%s", text);
    return false;
}

// The state of the layout's cards as they are: each present card with the
// numbers its ports of the layout carry, each missing one without ports.
Json CardsState(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match) {
    Json cards = Json::array();
    for (unsigned k = 0; k < layout.cardCount; ++k) {
        const LayoutCard& card = layout.cards[k];
        Json state = CardIdentity(card);
        Json ports = Json::array();
        int slot = match.slots[k];
        for (unsigned p = 0; slot >= 0 && p < card.portCount; ++p) {
            const PortRecord& port = table.slots[slot].ports[card.ports[p].port];
            Json entry = {{"port", card.ports[p].port + 1}};
            if (std::uint16_t number = CarriedNumber(port); number != 0) {
                entry["number"] = number;
            } else {
                entry["name"] = Field(port.portName);
            }
            ports.push_back(entry);
        }
        state["present"] = slot >= 0;
        state["ports"] = ports;
        cards.push_back(state);
    }
    return cards;
}

}  // namespace

bool ReadLayout(const char* text, std::size_t length, PortLayout& layout, char* reason, std::size_t size) {
    layout.cardCount = 0;
    reason[0] = '\0';
    static FirstSeen seen[kMaxComNumber + 1];
    std::memset(seen, 0, sizeof seen);
    try {
        Json root = Json::parse(text, text + length);
        if (!root.is_object() || !root.contains("kestrovaLayout")) {
            return FailWith(reason, size, kLayoutNotLayout);
        }
        const Json& version = root["kestrovaLayout"];
        if (!version.is_number_integer() || version.get<std::int64_t>() != kLayoutVersion) {
            FormatText(reason, size, kLayoutWrongVersion, version.dump().substr(0, 40).c_str());
            return false;
        }
        auto cards = root.find("cards");
        if (cards == root.end() || !cards->is_array()) {
            return FailWith(reason, size, kLayoutNoCards);
        }
        if (cards->size() > kMaxDevices) {
            return FailWith(reason, size, kLayoutTooManyCards);
        }
        for (const Json& card : *cards) {
            if (!ReadCard(card, layout.cardCount, layout.cards[layout.cardCount], seen, reason, size)) {
                layout.cardCount = 0;
                return false;
            }
            ++layout.cardCount;
        }
        return true;
    } catch (const Json::parse_error& error) {
        FormatText(reason, size, kLayoutNotJson, static_cast<unsigned long long>(error.byte));
    } catch (const std::exception&) {
        FailWith(reason, size, kLayoutNotLayout);
    }
    layout.cardCount = 0;
    return false;
}

std::uint16_t CarriedNumber(const PortRecord& port) {
    char name[kUtf8Room<sizeof PortRecord::portName>];
    std::uint16_t number = 0;
    return ParseComName(FieldText(port.portName, name, sizeof name), &number) ? number : 0;
}

bool WriteLayout(const DeviceTable& table, bool dscState, std::string& text, char* reason, std::size_t size) {
    static LayoutCard card;
    reason[0] = '\0';
    try {
        Json cards = Json::array();
        for (std::uint32_t d = 0; d < table.count; ++d) {
            DescribeCard(table.slots[d], card);
            for (std::uint32_t e = 0; e < d; ++e) {
                if (IsLayoutCard(table.slots[e], card)) {
                    FormatText(reason, size, kLayoutTwins, e + 1, d + 1, card.usbId, card.location);
                    return false;
                }
            }
            Json ports = Json::array();
            for (unsigned j = 0; j < PortRowCount(table.slots[d]); ++j) {
                // A port without a COM number is not the layout's to number.
                if (std::uint16_t number = CarriedNumber(table.slots[d].ports[j]); number != 0) {
                    ports.push_back({{"port", j + 1}, {"number", number}});
                }
            }
            Json entry = CardIdentity(card);
            entry["ports"] = ports;
            cards.push_back(entry);
        }
        Json root = {{"kestrovaLayout", kLayoutVersion}, {"cards", cards}};
        if (dscState) {
            root["_inDesiredState"] = nullptr;
        }
        text = Dump(root);
        return true;
    } catch (const std::exception&) {
        return FailWith(reason, size, kLayoutNotWritten);
    }
}

bool MatchLayout(const DeviceTable& table, const PortLayout& layout, LayoutMatch& match, char* reason,
                 std::size_t size) {
    match.missing = 0;
    reason[0] = '\0';
    for (unsigned k = 0; k < layout.cardCount; ++k) {
        const LayoutCard& card = layout.cards[k];
        int slot = -1;
        for (std::uint32_t d = 0; d < table.count; ++d) {
            if (!IsLayoutCard(table.slots[d], card)) {
                continue;
            }
            if (slot >= 0) {
                FormatText(reason, size, kLayoutTwins, slot + 1u, d + 1, card.usbId, card.location);
                return false;
            }
            slot = static_cast<int>(d);
        }
        for (unsigned e = 0; slot >= 0 && e < k; ++e) {
            if (match.slots[e] == slot) {
                FormatText(reason, size, kLayoutCardTwice, e + 1, k + 1, card.usbId, card.location);
                return false;
            }
        }
        match.slots[k] = slot;
        if (slot < 0) {
            ++match.missing;
            continue;
        }
        unsigned ports = PortRowCount(table.slots[slot]);
        if (card.portCount > 0 && card.ports[card.portCount - 1].port >= ports) {
            FormatText(reason, size, kLayoutNoSuchPort, k + 1, card.usbId, card.location, ports,
                       card.ports[card.portCount - 1].port + 1u);
            return false;
        }
    }
    return true;
}

void MapLayout(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match, RunMapping& mapping) {
    mapping.count = 0;
    mapping.firstCard = 0;
    mapping.lastCard = 0;
    for (std::uint32_t d = 0; d < table.count; ++d) {
        for (unsigned k = 0; k < layout.cardCount; ++k) {
            if (match.slots[k] != static_cast<int>(d)) {
                continue;
            }
            const LayoutCard& card = layout.cards[k];
            for (unsigned p = 0; p < card.portCount; ++p) {
                const LayoutPort& port = card.ports[p];
                if (CarriedNumber(table.slots[d].ports[port.port]) == port.number) {
                    continue;
                }
                if (mapping.count == 0) {
                    mapping.firstCard = d;
                }
                mapping.lastCard = d + 1;
                mapping.ports[mapping.count++] = PortTarget{static_cast<std::uint8_t>(d), port.port, port.number, 0};
            }
        }
    }
    MarkIdleCards(mapping);
}

LayoutCheck CheckLayout(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match,
                        CheckFormat format, std::string& text) {
    LayoutCheck check{0, 0, match.missing};
    static char line[1024];
    std::string lines;
    Json differences = Json::array();
    Json missing = Json::array();
    for (unsigned k = 0; k < layout.cardCount; ++k) {
        const LayoutCard& card = layout.cards[k];
        int slot = match.slots[k];
        if (slot < 0) {
            FormatText(line, sizeof line, kCheckMissingLine, card.usbId, card.location, card.name);
            lines += line;
            missing.push_back(CardIdentity(card));
            continue;
        }
        check.ports += card.portCount;
        for (unsigned p = 0; p < card.portCount; ++p) {
            const PortRecord& port = table.slots[slot].ports[card.ports[p].port];
            std::uint16_t has = CarriedNumber(port);
            if (has == card.ports[p].number) {
                continue;
            }
            ++check.differing;
            std::string name = Field(port.portName);
            FormatText(line, sizeof line, kCheckDifferenceLine, slot + 1, card.usbId, card.location,
                       card.ports[p].port + 1u, name.c_str(), static_cast<unsigned>(card.ports[p].number));
            lines += line;
            differences.push_back({{"card", slot + 1},
                                   {"usbId", card.usbId},
                                   {"location", card.location},
                                   {"port", card.ports[p].port + 1},
                                   {"has", name},
                                   {"wants", card.ports[p].number}});
        }
    }
    bool inLayout = check.differing == 0 && check.missing == 0;
    try {
        if (format == CheckFormat::DscState) {
            text = Dump({{"kestrovaLayout", kLayoutVersion},
                         {"cards", CardsState(table, layout, match)},
                         {"_inDesiredState", inLayout}});
        } else if (format == CheckFormat::Json) {
            text = Dump({{"inLayout", inLayout},
                         {"ports", check.ports},
                         {"differing", check.differing},
                         {"missing", check.missing},
                         {"differences", differences},
                         {"missingCards", missing}});
        } else {
            if (inLayout) {
                FormatText(line, sizeof line, kCheckMatches, layout.cardCount, check.ports);
            } else {
                FormatText(line, sizeof line, kCheckDiffers, check.differing, check.missing, layout.cardCount,
                           check.ports);
            }
            text = line + lines;
        }
    } catch (const std::exception&) {
        text.clear();
    }
    return check;
}

std::string LayoutState(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match) {
    try {
        return Dump({{"kestrovaLayout", kLayoutVersion},
                     {"cards", CardsState(table, layout, match)},
                     {"_inDesiredState", nullptr}});
    } catch (const std::exception&) {
        return std::string();
    }
}

// Reading a JSON description of cards: every value checked, texts cut to
// their record fields, unknown keys reported.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <initializer_list>

#include "simulator/sim_state.h"

namespace sim {

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

namespace {

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

}  // namespace

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

}  // namespace sim

// Layouts: the numbering of cards by who they are physically, as a JSON file
// that fleets export from one machine and check and apply on the others.
//   {"kestrovaLayout": 1, "cards": [{"usbId": "...", "location": "...",
//     "locationPath": [1, 2], "name": "...", "ports": [{"port": 1, "number": 20}]}]}
// A card is its usbId and location text and, when its record has one, its hub
// path; its ports are named by position (1-based). Other fields are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "inventory/device_table.h"
#include "renumber/plan.h"
#include "renumber/run.h"

constexpr inline int kLayoutVersion = 1;
constexpr inline std::size_t kLayoutReasonSize = 512;
constexpr inline unsigned kLayoutPathLength = kLastHubElement - kFirstHubElement + 1;

struct LayoutPort {
    std::uint8_t port;  // 0-based position on the card
    std::uint16_t number;
};

struct LayoutCard {
    char usbId[kUtf8Room<sizeof DeviceRecord::usbId>];
    char location[kUtf8Room<sizeof DeviceRecord::locationText>];
    char name[kUtf8Room<sizeof DeviceRecord::deviceName>];
    std::uint16_t path[kLayoutPathLength];
    unsigned pathLength;  // 0: the file names no hub path
    unsigned portCount;
    LayoutPort ports[kMaxPorts];  // by position
};

struct PortLayout {
    unsigned cardCount;
    LayoutCard cards[kMaxDevices];
};

// A layout file's text; false with the reason (not JSON, another version, a
// number out of range or repeated, a port out of range, a field too long).
bool ReadLayout(const char* text, std::size_t length, PortLayout& layout, char* reason, std::size_t size);

// The layout of the cards of a table, as JSON text with a closing line
// break; with dscState, the state property a configuration resource
// reports (null). false with the reason when two cards share one identity.
bool WriteLayout(const DeviceTable& table, bool dscState, std::string& text, char* reason, std::size_t size);

// Where each card of a layout is in a table: its slot, or -1 when absent.
struct LayoutMatch {
    int slots[kMaxDevices];
    unsigned missing;
};
// false with the reason when a card of the layout is two present cards, two
// cards of the layout are one present card, or a port of the layout is not
// on its card.
bool MatchLayout(const DeviceTable& table, const PortLayout& layout, LayoutMatch& match, char* reason,
                 std::size_t size);

// The number a port carries now: its COMn name's number, 0 for another name.
std::uint16_t CarriedNumber(const PortRecord& port);

// The run that gives every present card of the layout its numbers: only the
// ports whose number differs, in table order; cards without such a port stay
// on. count 0 when the machine has the layout.
void MapLayout(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match, RunMapping& mapping);

// What a check finds: the ports that differ and the cards that are missing.
struct LayoutCheck {
    unsigned ports;  // of the present cards of the layout
    unsigned differing;
    unsigned missing;
};
// Writes the check to text: a summary line, then a line a difference; with
// json the same as one JSON document, with dscState as the state of the
// layout's cards a configuration resource reports.
enum class CheckFormat { Text, Json, DscState };
LayoutCheck CheckLayout(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match,
                        CheckFormat format, std::string& text);

// The state of a layout's cards as they are now, as a configuration
// resource reports it after a change: _inDesiredState null.
std::string LayoutState(const DeviceTable& table, const PortLayout& layout, const LayoutMatch& match);

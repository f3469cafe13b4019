// Who holds a COM number: a port of a listed card, another port present on
// the machine, a device that is away now but takes its number back when it
// returns, or nothing. The sources are the cards the device-manager library
// lists (every category), the serial device map, the DOS device names and
// the system's Ports class device records. Names that are not COMn count
// for nothing; a number found by several sources counts once, the card
// before a present port before an absent device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "inventory/device_table.h"
#include "platform/platform.h"

enum class Holder : std::uint8_t { None, Absent, Present, Card };

struct NumberHolder {
    std::uint16_t number;
    Holder holder;
    std::uint8_t card;  // Card: slot and port in the table classified
    std::uint8_t port;
    char device[kDeviceNameSize];  // Present, Absent: the device; Card: the port's description
};

// Present ports and device records the table has room for; more are left
// out (and said so).
constexpr inline unsigned kMaxHolders = 2048;

struct HolderTable {
    unsigned count;
    bool overflow;  // some sources held more than fit
    NumberHolder holders[kMaxHolders];
    std::array<std::uint16_t, 65536> index;  // number -> holders index + 1; 0 for none
};

// Fills the table from the cards given and the system's sources.
void ClassifyHolders(const DeviceTable& cards, HolderTable& table);
// The same over the cards of every category, enumerated into cards (in the
// order of /list /category all).
void ClassifyMachine(DeviceTable& cards, HolderTable& table);
// The holder of a number; nullptr when nothing holds it.
const NumberHolder* HolderOf(const HolderTable& table, unsigned number);
// "card", "present", "absent" or "none".
const char* HolderWord(Holder holder);

// Writes to the reporter's output every claimed number with its holder, then
// every number a port holds that is not claimed, a line each.
void WriteClaims(const HolderTable& table);

// A claimed number nothing holds, which a release of stale claims frees:
// not COM1 or COM2 (the system's), not held by a card, a present port or a
// device that comes back.
bool IsStaleClaim(const HolderTable& table, unsigned number);

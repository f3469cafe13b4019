#include "renumber/claims.h"

#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "comdb/number_usage.h"
#include "resources/strings.h"
#include "services/reporter.h"
#include "text/bounded_text.h"
#include "text/com_name.h"

namespace {

constexpr unsigned kFirstReleasable = 3;  // COM1 and COM2 belong to the system

// What one source gives, read into one buffer at a time.
SystemPort found[kMaxHolders];

// A number a source names; a holder found before keeps it unless this one
// ranks higher (a device of the Ports class present after one away).
void AddHolder(HolderTable& table, const char* name, Holder holder, unsigned card, unsigned port, const char* device) {
    std::uint16_t number = 0;
    if (!ParseComName(name, &number)) {
        return;
    }
    std::uint16_t& slot = table.index[number];
    if (slot != 0) {
        NumberHolder& known = table.holders[slot - 1];
        if (known.holder >= holder) {
            return;
        }
        known = NumberHolder{number, holder, static_cast<std::uint8_t>(card), static_cast<std::uint8_t>(port), {}};
        FormatText(known.device, sizeof known.device, "%s", device);
        return;
    }
    if (table.count == kMaxHolders) {
        table.overflow = true;
        return;
    }
    NumberHolder& entry = table.holders[table.count++];
    entry = NumberHolder{number, holder, static_cast<std::uint8_t>(card), static_cast<std::uint8_t>(port), {}};
    FormatText(entry.device, sizeof entry.device, "%s", device);
    slot = static_cast<std::uint16_t>(table.count);
}

void AddSource(HolderTable& table, unsigned (*read)(SystemPort*, unsigned)) {
    unsigned count = read(found, kMaxHolders);
    for (unsigned i = 0; i < count; ++i) {
        AddHolder(table, found[i].portName, found[i].present ? Holder::Present : Holder::Absent, 0, 0, found[i].device);
    }
    table.overflow = table.overflow || count == kMaxHolders;
}

}  // namespace

void ClassifyHolders(const DeviceTable& cards, HolderTable& table) {
    table.count = 0;
    table.overflow = false;
    table.index.fill(0);
    char name[kUtf8Room<sizeof PortRecord::portName>];
    char description[kUtf8Room<sizeof PortRecord::description>];
    for (std::uint32_t d = 0; d < cards.count; ++d) {  // at most kMaxDevices
        const DeviceRecord& card = cards.slots[d];
        for (unsigned j = 0; j < PortCountOf(card); ++j) {
            const PortRecord& port = card.ports[j];
            AddHolder(table, FieldText(port.portName, name, sizeof name), Holder::Card, d, j,
                      FieldText(port.description, description, sizeof description));
        }
    }
    AddSource(table, ReadSerialDeviceMap);
    AddSource(table, ReadDosPortNames);
    AddSource(table, ReadPortsClassDevices);
}

void ClassifyMachine(DeviceTable& cards, HolderTable& table) {
    EnumerateCards(cards, kCategoryAll, kOrderByPosition);
    ClassifyHolders(cards, table);
}

const NumberHolder* HolderOf(const HolderTable& table, unsigned number) {
    if (number > 0xFFFF || table.index[number] == 0) {
        return nullptr;
    }
    return &table.holders[table.index[number] - 1];
}

const char* HolderWord(Holder holder) {
    switch (holder) {
    case Holder::Card:
        return "card";
    case Holder::Present:
        return "present";
    case Holder::Absent:
        return "absent";
    case Holder::None:
        break;
    }
    return "none";
}

namespace {

constexpr std::size_t kLineSize = 512;

void FormatHolder(const NumberHolder* holder, unsigned number, char* text, std::size_t size) {
    if (holder == nullptr) {
        FormatText(text, size, "%s", number < kFirstReleasable ? kTextHolderSystem : kTextHolderNone);
        return;
    }
    switch (holder->holder) {
    case Holder::Card:
        FormatText(text, size, kTextHolderCard, holder->card + 1u, holder->port + 1u, holder->device);
        return;
    case Holder::Present:
        FormatText(text, size, kTextHolderPresent, holder->device);
        return;
    case Holder::Absent:
    case Holder::None:
        break;
    }
    FormatText(text, size, kTextHolderAbsent, holder->device);
}

void WriteLine(unsigned number, bool claimed, const NumberHolder* holder) {
    char text[kLineSize];
    char line[kLineSize + 64];
    FormatHolder(holder, number, text, sizeof text);
    FormatText(line, sizeof line, kTextClaimLine, number, claimed ? kTextListClaimed : kTextListFree, text);
    Report().Output(line);
}

}  // namespace

void WriteClaims(const HolderTable& table) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    unsigned numbers = 0;
    if (ComDbGetSize(comDb.load(), &numbers) != 0) {
        numbers = kComNumberRows;
    }
    char line[kLineSize];
    FormatText(line, sizeof line, kTextClaimsHeading, numbers);
    Report().Output(line);
    bool any = false;
    for (unsigned n = 1; n <= kMaxComDbNumbers; ++n) {
        if (IsNumberClaimed(bits, n)) {
            WriteLine(n, true, HolderOf(table, n));
            any = true;
        }
    }
    if (!any) {
        Report().Output(kTextClaimsNone);
    }
    Report().Output(kTextUnclaimedHeading);
    any = false;
    for (unsigned n = 1; n <= 0xFFFF; ++n) {
        const NumberHolder* holder = HolderOf(table, n);
        if (holder != nullptr && holder->holder != Holder::Absent && !IsNumberClaimed(bits, n)) {
            WriteLine(n, false, holder);
            any = true;
        }
    }
    if (!any) {
        Report().Output(kTextClaimsNone);
    }
    if (table.overflow) {
        FormatText(line, sizeof line, kTextClaimsOverflow, kMaxHolders);
        Report().Output(line);
    }
}

bool IsStaleClaim(const HolderTable& table, unsigned number) {
    return number >= kFirstReleasable && HolderOf(table, number) == nullptr;
}

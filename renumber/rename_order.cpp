#include "renumber/rename_order.h"

#include <algorithm>
#include <bitset>

#include "comdb/number_usage.h"
#include "text/bounded_text.h"

namespace {

// A number no port of the table carries, no port of the run is given and the
// COM database does not hold. There always is one: those are far fewer than
// the numbers from COM3 up.
static_assert(2 * kMaxDevices * kMaxPorts + kMaxComDbNumbers < 0xFFFF - 3);
std::uint16_t FreeNumber(const RunMapping& mapping, const std::bitset<65536>& carried) {
    static std::bitset<65536> taken;
    taken = carried;
    for (unsigned i = 0; i < mapping.count; ++i) {
        taken.set(mapping.ports[i].target);
    }
    PortUsageBits bits;
    ReadPortUsage(bits);
    unsigned n = 3;
    while (taken.test(n) || IsNumberClaimed(bits, n)) {
        ++n;
    }
    return static_cast<std::uint16_t>(n);
}

}  // namespace

std::uint16_t CurrentNumber(const DeviceTable& cards, const PortTarget& entry) {
    char name[kUtf8Room<sizeof PortRecord::portName>];
    std::uint16_t number = 0;
    ParseComName(FieldText(cards.slots[entry.card].ports[entry.port].portName, name, sizeof name), &number);
    return number;
}

unsigned PlanRenames(const DeviceTable& cards, const RunMapping& mapping, RenameStep* steps) {
    static std::bitset<65536> carried;      // by any port of the table
    static std::uint16_t waitingOn[65536];  // ports of the run still carrying a number
    carried.reset();
    std::fill(std::begin(waitingOn), std::end(waitingOn), 0);
    char name[kUtf8Room<sizeof PortRecord::portName>];
    for (std::uint32_t d = 0; d < cards.count; ++d) {
        for (unsigned j = 0; j < PortCountOf(cards.slots[d]); ++j) {
            std::uint16_t number = 0;
            if (ParseComName(FieldText(cards.slots[d].ports[j].portName, name, sizeof name), &number)) {
                carried.set(number);
            }
        }
    }
    static std::uint16_t current[kMaxDevices * kMaxPorts];
    static bool done[kMaxDevices * kMaxPorts];
    static int ownerOf[65536];  // the port of the run a number is the target of, -1 for none
    std::fill(std::begin(ownerOf), std::end(ownerOf), -1);
    for (unsigned i = 0; i < mapping.count; ++i) {
        current[i] = CurrentNumber(cards, mapping.ports[i]);
        done[i] = false;
        ++waitingOn[current[i]];
        ownerOf[mapping.ports[i].target] = static_cast<int>(i);
    }
    unsigned count = 0;
    unsigned left = mapping.count;
    while (left > 0) {
        bool moved = false;
        for (unsigned i = 0; i < mapping.count; ++i) {
            std::uint16_t target = mapping.ports[i].target;
            if (done[i] || (target != current[i] && waitingOn[target] != 0)) {
                continue;
            }
            steps[count++] = RenameStep{i, target, true};
            --waitingOn[current[i]];
            done[i] = true;
            --left;
            moved = true;
        }
        if (moved) {
            continue;
        }
        // Every port left waits for another: one that another waits for
        // (there is one in every cycle) goes to a free number, and frees its
        // own for that one. Unique targets, as a run's checks leave them,
        // always give one; without it the rest stay as they are and fail.
        unsigned first = 0;
        while (first < mapping.count && (done[first] || ownerOf[current[first]] < 0 || done[ownerOf[current[first]]] ||
                                         ownerOf[current[first]] == static_cast<int>(first))) {
            ++first;
        }
        if (first == mapping.count) {
            break;
        }
        std::uint16_t free = FreeNumber(mapping, carried);
        steps[count++] = RenameStep{first, free, false};
        carried.set(free);
        --waitingOn[current[first]];
        current[first] = free;
        ++waitingOn[free];
    }
    return count;
}

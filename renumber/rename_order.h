// The order of a run's renames, planned whole before the first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/device_table.h"
#include "renumber/run.h"

// One rename of a run: a port to its target, or on its way there to a free
// number while its target is still another port's of the run.
struct RenameStep {
    unsigned index;  // in the mapping
    std::uint16_t number;
    bool final;
};
// Each port of a run takes at most one number on its way to its target.
constexpr inline std::size_t kMaxRenameSteps = 2 * kMaxDevices * kMaxPorts;

// The number a run's port carries before it, from its name; 0 when the name
// is no COM name.
std::uint16_t CurrentNumber(const DeviceTable& cards, const PortTarget& entry);

// The order of the renames of a mapping over cards, into steps (at most
// kMaxRenameSteps), and their count: no port is given a number another port of the
// run still carries, so a shift upwards runs from the top, and an exchange or
// a rotation moves one port through a free number first. Ports in mapping
// order whenever the numbers allow it.
unsigned PlanRenames(const DeviceTable& cards, const RunMapping& mapping, RenameStep* steps);

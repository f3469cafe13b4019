// Numbering plans: counting up from the start number, or computing each
// port's number from the USB hub ports its card hangs on.
#pragma once

#include <cstdint>

// Bit 15: the group is switched on; bits 0..7: hub ports 1..8.
using HubMask = std::uint16_t;
constexpr inline HubMask kHubGroupOn = 0x8000;
constexpr inline unsigned kHubPorts = 8;
// The hub boxes a user starts with: downstream ports 1 to 4 on, upstream off.
constexpr inline HubMask kDefaultUpMask = 0;
constexpr inline HubMask kDefaultDownMask = kHubGroupOn | 0x0F;

// The hub ports a card hangs on, from the root, are elements 3 to 8 of its
// record's location path, ended by a 0.
constexpr inline unsigned kFirstHubElement = 3;
constexpr inline unsigned kLastHubElement = 8;

struct NumberingPlan {
    std::uint16_t hubMode;     // 1: hub-position plan chosen
    std::uint16_t startIndex;  // row of the start-number combo (COM startIndex+1)
    HubMask upMask;            // both 0 unless hubMode
    HubMask downMask;
};

// The hub-position number of port portIndex of a card with portCount ports;
// 0 when the plan gives this port no number.
std::uint16_t ComputeHubNumber(const NumberingPlan& plan, const std::uint16_t (&locationPath)[10],
                               std::uint16_t portIndex, std::uint16_t portCount);

// With the upstream group on and the downstream group off, the hub formula
// gives every card behind a hub the start number.
bool IsUpstreamOnlyPlan(const NumberingPlan& plan);

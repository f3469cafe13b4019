// Numbering plans: counting up from the start number, or computing each
// port's number from the USB hub ports its card hangs on.
#pragma once

#include <array>
#include <cstdint>

#include "resources/ids.h"

// Bit 15: the group is switched on; bits 0..7: hub ports 1..8.
using HubMask = std::uint16_t;
constexpr inline HubMask kHubGroupOn = 0x8000;

constexpr inline std::array<int, 8> kUpPortBoxes = {IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3, IDC_UP_PORT4,
                                                    IDC_UP_PORT5, IDC_UP_PORT6, IDC_UP_PORT7, IDC_UP_PORT8};
constexpr inline std::array<int, 8> kDownPortBoxes = {IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3, IDC_DOWN_PORT4,
                                                      IDC_DOWN_PORT5, IDC_DOWN_PORT6, IDC_DOWN_PORT7, IDC_DOWN_PORT8};

struct NumberingPlan {
    std::uint16_t hubMode;     // 1: hub-position plan chosen
    std::uint16_t startIndex;  // row of the start-number combo (COM startIndex+1)
    HubMask upMask;
    HubMask downMask;
};

// The plan as the main dialog's controls say now (user-interface thread).
NumberingPlan ReadNumberingPlan();
// The hub-position number of port portIndex of a card with portCount ports;
// 0 when the plan gives this port no number.
std::uint16_t ComputeHubNumber(const NumberingPlan& plan, const std::uint16_t (&locationPath)[10],
                               std::uint16_t portIndex, std::uint16_t portCount);

#include "renumber/plan.h"

#include <array>
#include <bit>

#include "resources/ids.h"
#include "ui/state.h"

NumberingPlan numberingPlan;

namespace {

constexpr std::array<int, 8> kUpPortBoxes = {IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3, IDC_UP_PORT4,
                                             IDC_UP_PORT5, IDC_UP_PORT6, IDC_UP_PORT7, IDC_UP_PORT8};
constexpr std::array<int, 8> kDownPortBoxes = {IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3, IDC_DOWN_PORT4,
                                               IDC_DOWN_PORT5, IDC_DOWN_PORT6, IDC_DOWN_PORT7, IDC_DOWN_PORT8};
constexpr unsigned kFirstHubElement = 3;
constexpr unsigned kLastHubElement = 8;

HubMask ReadHubGroup(int switchId, const std::array<int, 8>& boxes) {
    if (!IsButtonChecked(mainDialog, switchId)) {
        return 0;
    }
    HubMask mask = kHubGroupOn;
    for (unsigned port = 0; port < boxes.size(); ++port) {
        if (IsButtonChecked(mainDialog, boxes[port])) {
            mask = static_cast<HubMask>(mask | 1u << port);
        }
    }
    return mask;
}

// Hub ports above 8 have no box and so are never selected.
bool IsHubPortSelected(HubMask mask, std::uint16_t port) {
    return port >= 1 && port <= kUpPortBoxes.size() && (mask >> (port - 1) & 1u) != 0;
}

}  // namespace

void ReadNumberingPlan() {
    numberingPlan.hubMode =
        !IsButtonChecked(mainDialog, IDC_PLAN_SEQUENTIAL) && IsButtonChecked(mainDialog, IDC_PLAN_HUB) ? 1 : 0;
    numberingPlan.startIndex = static_cast<std::uint16_t>(ComboGetSelection(mainDialog, IDC_START_NUMBER));
    numberingPlan.upMask = 0;
    numberingPlan.downMask = 0;
    if (numberingPlan.hubMode == 0) {
        return;
    }
    numberingPlan.upMask = ReadHubGroup(IDC_HUB_UP, kUpPortBoxes);
    numberingPlan.downMask = ReadHubGroup(IDC_HUB_DOWN, kDownPortBoxes);
}

std::uint16_t ComputeHubNumber(const std::uint16_t (&path)[10], std::uint16_t portIndex, std::uint16_t portCount) {
    ReadNumberingPlan();
    if (numberingPlan.hubMode == 0) {
        return 0;
    }
    bool upOn = (numberingPlan.upMask & kHubGroupOn) != 0;
    bool downOn = (numberingPlan.downMask & kHubGroupOn) != 0;
    HubMask up = upOn ? static_cast<HubMask>(numberingPlan.upMask & 0x7FFF) : 0;
    HubMask down = downOn ? static_cast<HubMask>(numberingPlan.downMask & 0x7FFF) : 0;
    if (!upOn && !downOn) {
        return 0;
    }
    auto downSelected = static_cast<std::uint16_t>(std::popcount(static_cast<unsigned>(down & 0x3FFF)));

    unsigned end = kFirstHubElement;
    while (end <= kLastHubElement && path[end] != 0) {
        ++end;
    }
    if (end > kLastHubElement || end == kFirstHubElement) {
        return 0;
    }
    std::uint16_t upPort = end == kFirstHubElement + 1 ? 0 : path[end - 2];
    std::uint16_t downPort = path[end - 1];

    std::uint16_t upOffset = 0;
    if (upOn) {
        if (upPort == 0) {
            return 0;
        }
        if (IsHubPortSelected(up, upPort)) {
            upOffset = static_cast<std::uint16_t>((upPort - 1) * downSelected * portCount);
        }
    }
    std::uint16_t downOffset = 0;
    if (downOn) {
        if (!IsHubPortSelected(down, downPort)) {
            return 0;
        }
        downOffset = static_cast<std::uint16_t>((downPort - 1) * portCount + portIndex);
    }
    return static_cast<std::uint16_t>(upOffset + downOffset + numberingPlan.startIndex + 1);
}

void UpdateHubControls() {
    bool upOn = false;
    bool downOn = false;
    if (IsButtonChecked(mainDialog, IDC_PLAN_HUB)) {
        EnableControl(mainDialog, IDC_HUB_UP, true);
        EnableControl(mainDialog, IDC_HUB_DOWN, true);
        upOn = IsButtonChecked(mainDialog, IDC_HUB_UP);
        downOn = IsButtonChecked(mainDialog, IDC_HUB_DOWN);
    } else {
        EnableControl(mainDialog, IDC_HUB_UP, false);
        EnableControl(mainDialog, IDC_HUB_DOWN, false);
    }
    for (int box : kUpPortBoxes) {
        EnableControl(mainDialog, box, upOn);
    }
    for (int box : kDownPortBoxes) {
        EnableControl(mainDialog, box, downOn);
    }
}

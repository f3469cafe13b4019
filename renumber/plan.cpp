#include "renumber/plan.h"

#include <bit>

namespace {

// Hub ports above 8 have no box and so are never selected.
bool IsHubPortSelected(HubMask mask, std::uint16_t port) {
    return port >= 1 && port <= kHubPorts && (mask >> (port - 1) & 1u) != 0;
}

}  // namespace

bool IsUpstreamOnlyPlan(const NumberingPlan& plan) {
    return plan.hubMode != 0 && (plan.upMask & kHubGroupOn) != 0 && (plan.downMask & kHubGroupOn) == 0;
}

std::uint16_t ComputeHubNumber(const NumberingPlan& plan, const std::uint16_t (&path)[10], std::uint16_t portIndex,
                               std::uint16_t portCount) {
    if (plan.hubMode == 0) {
        return 0;
    }
    bool upOn = (plan.upMask & kHubGroupOn) != 0;
    bool downOn = (plan.downMask & kHubGroupOn) != 0;
    if (!upOn && !downOn) {
        return 0;
    }
    auto up = static_cast<HubMask>(plan.upMask & 0x7FFF);
    HubMask down = downOn ? static_cast<HubMask>(plan.downMask & 0x7FFF) : 0;
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
    return static_cast<std::uint16_t>(upOffset + downOffset + plan.startIndex + 1);
}

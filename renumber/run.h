// A rename run planned whole before anything changes: the request a front
// end makes of the user's choices, the mapping of every port to its target
// number, and the checks of that mapping (repeated targets, claimed targets,
// held ports).
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/device_table.h"
#include "renumber/plan.h"
#include "text/com_name.h"

enum class RenameScope { SelectedPort, SelectedCard, AllCards };

// Everything a run needs of the user's choices, made once when the run is
// asked for; the run never looks at a control.
struct RunRequest {
    RenameScope scope;
    int device;    // card (adapter list row), -1 for none
    int port;      // port (port list row), -1 for none
    int startRow;  // start-number row (COM startRow+1), -1 for none
    NumberingPlan plan;
    int category;  // the listing the rows name: category and order as enumerated
    int order;
};

// The one way to make a request: the plan's start follows startRow, and the
// hub masks count only for the hub plan.
RunRequest MakeRunRequest(RenameScope scope, int device, int port, int startRow, bool hubPlan, HubMask upMask,
                          HubMask downMask, int category, int order);

// A port whose name is not "COM" and its number (COM5, not COM05, LPT1,
// "COM 5" or a cut name) could not be put back by undo: runs leave it alone.
enum : std::uint8_t { kMarkClaimed = 1, kMarkHeld = 2, kMarkRepeated = 4, kMarkNotCom = 8 };

struct PortTarget {
    std::uint8_t card;
    std::uint8_t port;
    std::uint16_t target;  // 0: the run gives this port no number
    std::uint8_t marks;
};

// Every port a run renames, in the order it renames them. Fixed size: a run
// covers at most every port of every card of the table.
struct RunMapping {
    unsigned firstCard;
    unsigned lastCard;        // one past the last card the run switches off and on
    std::uint64_t idleCards;  // bit d: card d lies in the range but stays on (undo)
    unsigned count;
    PortTarget ports[kMaxDevices * kMaxPorts];
};

// Cards between the first and the last that have no port in the mapping stay
// switched on: marks them idle.
void MarkIdleCards(RunMapping& mapping);

// Why a request cannot run, after the cause has been logged; None when it can.
enum class RunRefusal { None, NothingSelected, NoStartNumber, NoPorts };
RunRefusal CheckRequest(const DeviceTable& table, const RunRequest& request);

// An upstream-only hub plan (see IsUpstreamOnlyPlan) is refused in the card
// scopes, where it applies.
bool IsUpstreamOnlyRequest(const RunRequest& request);
// The same, logged.
bool IsUpstreamOnly(const RunRequest& request);

// Sequential numbers run on across the cards in table order; the hub plan
// computes each port's number and a port it gives none takes the running
// number; the selected port always takes the start number.
void MapRun(const DeviceTable& table, const RunRequest& request, RunMapping& mapping);

// Marks targets given to more than one port; returns how many ports share a
// target, and lists them ("COM30: 1#P1(COM3), 2#P1(COM5)", one number a line).
unsigned MarkRepeats(const DeviceTable& table, RunMapping& mapping, char* list, std::size_t size);

// Marks claimed targets and ports another program holds open; with report,
// logs each as the run does.
void CheckMapping(const DeviceTable& table, RunMapping& mapping, bool report);

// The lists the run's questions show: held ports ("COM12,COM13,") and claimed
// targets ("COM5,COM6,"), shortened with "..." when full; empty when there
// are none.
constexpr inline std::size_t kInUseListSize = 4096;
constexpr inline std::size_t kClaimedListSize = 8192;
void ScanConflicts(const DeviceTable& table, RunMapping& mapping, char* inUseList, std::size_t inUseSize,
                   char* claimedList, std::size_t claimedSize);

// Writes the mapping of a request to the reporter's output, one line a port,
// as a run of the request would number them; changes nothing. false (logged)
// when the request cannot run.
bool PreviewRun(const DeviceTable& table, const RunRequest& request);
// The same for a mapping made already.
void PreviewMapping(const DeviceTable& table, RunMapping& mapping);

// The main dialog's side of the core: the lists, the status text and the
// start list shown from the listing and the COM database, the request read
// from the controls, and every enabled state. User-interface thread only.
#pragma once

#include <array>
#include <cstdint>

#include "platform/platform.h"
#include "renumber/plan.h"
#include "renumber/run.h"
#include "resources/ids.h"

// The main dialog's window: written once by its procedure when it
// initialises.
extern Window mainDialog;

constexpr inline std::array<int, kHubPorts> kUpPortBoxes = {IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3, IDC_UP_PORT4,
                                                            IDC_UP_PORT5, IDC_UP_PORT6, IDC_UP_PORT7, IDC_UP_PORT8};
constexpr inline std::array<int, kHubPorts> kDownPortBoxes = {IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3,
                                                              IDC_DOWN_PORT4, IDC_DOWN_PORT5, IDC_DOWN_PORT6,
                                                              IDC_DOWN_PORT7, IDC_DOWN_PORT8};

// Lists the cards of the combos' category and order: the adapter list, the
// port list with the status text, then the tree summary in the log. Callers
// keep it away from a running rename (the lists are locked then).
std::uint32_t EnumerateDevices();
void ShowPorts();
// The start number follows the selected port.
void SyncStartNumber();
// Rebuilds the start-number combo; with advance, or with no row selected, the
// first free number from COM3 upwards becomes the selection.
void FillStartNumbers(bool advance);

NumberingPlan ReadNumberingPlan();
// The request of the controls as they stand, read once when a run starts.
RunRequest ReadRunRequest();

// Every enabled state of the main dialog, from the run, the category, the
// plan and the hub switches.
void UpdateControlStates();

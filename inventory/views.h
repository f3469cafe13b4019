// What the user sees of the device table: the adapter list with the tree
// summary in the log, the port list with the status text, and the start
// number following the selected port.
#pragma once

#include <cstdint>

std::uint32_t EnumerateDevices();
bool ShowPorts();
void SyncStartNumber();
// The cards a run over all cards covers: the adapter list's rows, never more
// than the table holds.
unsigned ListedCardCount();

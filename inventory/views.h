// What the user sees of the device table: the adapter list with the tree
// summary in the log, the port list with the status text, and the start
// number following the selected port.
#pragma once

#include <cstdint>

// Row of the category combo at the last enumeration; written only by
// EnumerateDevices, on the user-interface thread.
extern int currentCategory;

// Callers keep it away from a running rename, which reads the table unlocked.
std::uint32_t EnumerateDevices();
void ShowPorts();
void SyncStartNumber();
// The cards a run over all cards covers: the adapter list's rows, never more
// than the table holds.
unsigned ListedCardCount();

// What the user sees of a device table, as texts: the adapter and port rows,
// the status text, the tree summary in the log, and the start-number row the
// selected port gives. The front ends show them; these routines only format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "inventory/device_table.h"

constexpr inline std::size_t kCardRowSize = 1024;
constexpr inline std::size_t kPortRowSize = 256;  // port rows and the status text

// Refills the table from the library (category and order as the combos' rows,
// -1 and 0xFF passed on when a combo has none). Returns the count.
std::uint32_t EnumerateCards(DeviceTable& table, int category, int order);
// The tree summary of the whole table, appended to the log.
void LogTreeSummary(const DeviceTable& table);

const char* CdcOrVcp(const PortRecord& port);
// " %u#[%s]:%s" from the card number, typeLabel and deviceName.
void FormatCardRow(const DeviceRecord& card, unsigned slot, char* buffer, std::size_t size);
// A single-port card shows one row, port 0; any other card one a port.
unsigned PortRowCount(const DeviceRecord& card);
void FormatPortRow(const DeviceRecord& card, unsigned row, char* buffer, std::size_t size);
void FormatStatusText(const DeviceRecord& card, char* buffer, std::size_t size);

// The row a refilled list selects: the previous one (none counts as 0) when
// it is below count, else the last, none when count is 0. The port list
// clamps against portCount also for a single-port card, whose one row then
// stays unselected when an earlier row was selected.
int KeptRow(int previous, int count);

// The start list's row for the selected card and port: false when either is
// not selected or the port reports no number (the start number stays). A
// number above 256 gives the row past the end, which clears the selection.
bool StartRowOfPort(const DeviceTable& table, int card, int port, int* row);

// The Windows COM port number database as the program reads it: the shared
// handle, the usage bitmap, the number rows, the default start number and
// the claimed-number test.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

constexpr inline unsigned kComNumberRows = 256;  // row k of every number list is COM k+1

// Opened lazily by the list fills and once more by the main dialog; never
// closed. Written on the front end's thread, and by a run's final start-list
// fill when it is still invalid.
extern std::atomic<ComDbHandle> comDb;

// COM n is bit (n-1) % 8 of byte (n-1) / 8; a set bit means claimed. Room
// for the biggest database; the lists show its first 256 numbers.
using PortUsageBits = std::array<std::uint8_t, kMaxComDbNumbers / 8>;

// Opens the database when comDb is still invalid; false when it stays invalid.
bool EnsureComDbOpen();
// Opens it once more, the new handle (invalid after a failure, which is
// logged) replacing the current one.
void ReopenComDb();
// Reads the bitmap with the current handle, as far as the database's size
// goes (256 numbers when it cannot be told). The buffer is cleared first, so
// a failed read shows every number as free rather than stale bits, and the
// numbers past the database's end read as free.
void ReadPortUsage(PortUsageBits& bits);
// Numbers above 4096 (and 0) have no bit and read as free.
bool IsNumberClaimed(const PortUsageBits& bits, unsigned number);
// "COM%d In use" or "COM%d".
void FormatNumberRow(char* buffer, std::size_t size, unsigned number, bool claimed);
// The start list's row after a refill: the row it had, except that with no
// row, or with advance, the first free number from COM3 upwards (none when
// all are claimed and nothing was selected).
int DefaultStartRow(const PortUsageBits& bits, int selection, bool advance);

// Nonzero when COM n is claimed; logs the claimed-number warning then.
int IsPortNumberClaimed(std::uint16_t number);

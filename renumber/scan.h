// The check before a rename run: target numbers the COM database already
// marks as claimed, and current ports another program holds open.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr inline std::size_t kInUseListSize = 4096;
constexpr inline std::size_t kClaimedListSize = 8192;

// Fills inUseList ("COM12,COM13,") and claimedList ("COM5,COM6,"), shortened
// with "..." when full; returns the number of ports found held open.
std::uint32_t ScanConflicts(char* inUseList, std::size_t inUseSize, char* claimedList, std::size_t claimedSize);

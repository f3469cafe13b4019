// The COM port names the program works with: "COM" and a number.
#pragma once

#include <cstdint>

// "COM" and a number 1..65535 without leading zeros, nothing else (not
// COM05, LPT1, "COM 5", "com5" or a cut name).
bool ParseComName(const char* name, std::uint16_t* number);

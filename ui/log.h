// The activity log: edit control IDC_LOG of the main dialog, plus the
// debugger output for timestamped lines.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/platform.h"

constexpr inline std::size_t kLogLineSize = 5120;
constexpr inline std::size_t kRawTextSize = 10240;

// Shared by LogMessage and LogLastError on both threads.
extern std::atomic<unsigned> lineCounter;

#if defined(__GNUC__)
#define KESTROVA_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define KESTROVA_PRINTF(f, a)
#endif

void LogMessage(const char* format, ...) KESTROVA_PRINTF(1, 2);
void LogLastError(const char* format, ...) KESTROVA_PRINTF(1, 2);
void AppendText(Window window, int controlId, const char* format, ...) KESTROVA_PRINTF(3, 4);

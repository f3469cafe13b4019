// The activity log: edit control IDC_LOG of the main dialog, plus the
// debugger output for timestamped lines.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/platform.h"
#include "text/bounded_text.h"  // KESTROVA_PRINTF

constexpr inline std::size_t kLogLineSize = 5120;
constexpr inline std::size_t kRawTextSize = 10240;

// Shared by LogMessage and LogLastError on both threads.
extern std::atomic<unsigned> lineCounter;

void LogMessage(const char* format, ...) KESTROVA_PRINTF(1, 2);
void LogLastError(const char* format, ...) KESTROVA_PRINTF(1, 2);
void AppendText(Window window, int controlId, const char* format, ...) KESTROVA_PRINTF(3, 4);

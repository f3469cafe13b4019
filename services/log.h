// The activity log: timestamped lines (also sent to the debugger output) and
// raw text, each reaching the reporter's log as one text, so nothing the user
// does in the log can land in the middle of one.
#pragma once

#include <atomic>
#include <cstddef>

#include "text/bounded_text.h"  // KESTROVA_PRINTF

constexpr inline std::size_t kLogLineSize = 5120;
constexpr inline std::size_t kRawTextSize = 10240;

// Shared by LogMessage and LogLastError on every thread.
extern std::atomic<unsigned> lineCounter;

void LogMessage(const char* format, ...) KESTROVA_PRINTF(1, 2);
// The line ends with the system's text for the thread's last error and always
// with "\r\n".
void LogLastError(const char* format, ...) KESTROVA_PRINTF(1, 2);
// Raw text without prefix or counter, at most 10239 bytes an append: longer
// text is cut at a character boundary and still ends with "\n".
void AppendText(const char* format, ...) KESTROVA_PRINTF(1, 2);

// Multi-line output (the tree summary, the preview) built in a bounded buffer
// and handed on in as few texts as possible: a log edit's cost of an append
// grows with the text it holds, so a whole table's summary (about 130 KB for
// 64 cards of 64 ports) goes in one. A block is cut only between pieces; a
// piece is one line with its line break, and one longer than a raw text
// follows the raw-text rule. A block goes to the log, or with toOutput to the
// reporter's output.
constexpr inline std::size_t kLogBlockSize = 512 * 1024;
struct LogBlock {
    char text[kLogBlockSize];
    std::size_t used;
    bool toOutput;
};
void BlockBegin(LogBlock& block, bool toOutput = false);
void BlockAppend(LogBlock& block, const char* format, ...) KESTROVA_PRINTF(2, 3);
void BlockFlush(LogBlock& block);

// The activity log: the main dialog's log edit, plus the debugger output for
// timestamped lines. Every append reaches the edit as one message handled by
// the main dialog on its own thread (kMsgAppendLog), so nothing the user does
// in the log can land in the middle of one.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/platform.h"
#include "text/bounded_text.h"  // KESTROVA_PRINTF

constexpr inline std::size_t kLogLineSize = 5120;
constexpr inline std::size_t kRawTextSize = 10240;

// Sent to the main dialog with the text in lParam; its procedure appends the
// text to the log edit (WM_APP + 1).
constexpr inline unsigned kMsgAppendLog = 0x8001;

// Shared by LogMessage and LogLastError on both threads.
extern std::atomic<unsigned> lineCounter;

void LogMessage(const char* format, ...) KESTROVA_PRINTF(1, 2);
// The line ends with the system's text for the thread's last error and always
// with "\r\n".
void LogLastError(const char* format, ...) KESTROVA_PRINTF(1, 2);
// Raw text without prefix or counter, at most 10239 bytes an append: longer
// text is cut at a character boundary and still ends with "\n".
void AppendText(Window window, int controlId, const char* format, ...) KESTROVA_PRINTF(3, 4);
// AppendText to the main dialog's log.
void AppendLog(const char* text);

// Multi-line output (the tree summary, the preview) built in a bounded buffer
// and appended to the log in as few appends as possible: the edit's cost of an
// append grows with the text it holds, so a whole table's summary (about
// 130 KB for 64 cards of 64 ports) goes in one. A block is cut only between
// pieces; a piece is one line with its line break, and one longer than a raw
// text follows the raw-text rule.
constexpr inline std::size_t kLogBlockSize = 512 * 1024;
struct LogBlock {
    char text[kLogBlockSize];
    std::size_t used;
};
void BlockBegin(LogBlock& block);
void BlockAppend(LogBlock& block, const char* format, ...) KESTROVA_PRINTF(2, 3);
void BlockFlush(LogBlock& block);

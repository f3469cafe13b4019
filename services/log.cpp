#include "services/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "services/reporter.h"

std::atomic<unsigned> lineCounter{0};

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kLineEndSize = sizeof kLineEnd - 1;

// Prefix with counter and local time, then the message, leaving room for
// reserve more bytes.
void FormatTimestamped(char* line, std::size_t reserve, const char* format, va_list arguments) {
    LocalTime now = GetLocalTimeNow();
    unsigned n = lineCounter.fetch_add(1, std::memory_order_relaxed);
    std::snprintf(line, kLogLineSize, "%04u#%02d:%02d:%02d:%03d>> ", n, now.hour, now.minute, now.second,
                  now.milliseconds);
    AppendFormatV(line, kLogLineSize - reserve, format, arguments);
}

void Emit(const char* line) {
    DebugOutput(line);
    Report().LogText(line);
}

// The raw-text rule: at most kRawTextSize - 1 bytes; text that did not fit is
// cut at a character boundary and ends with "\n".
void FormatRaw(char* text, const char* format, va_list arguments) {
    int wanted = std::vsnprintf(text, kRawTextSize, format, arguments);
    if (wanted >= static_cast<int>(kRawTextSize)) {
        CutUtf8(text, kRawTextSize - 2);
        std::strcat(text, "\n");
    }
}

}  // namespace

void LogMessage(const char* format, ...) {
    char line[kLogLineSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTimestamped(line, kLineEndSize, format, arguments);
    va_end(arguments);
    std::strcat(line, kLineEnd);
    Emit(line);
}

void LogLastError(const char* format, ...) {
    // Read first: building the line must not be able to change it.
    unsigned code = GetLastErrorCode();
    char errorText[kLogLineSize];
    GetErrorText(code, errorText, sizeof errorText);

    char line[kLogLineSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTimestamped(line, kLineEndSize, format, arguments);
    va_end(arguments);
    AppendFormat(line, sizeof line - kLineEndSize, ":Last Err(%x)%s", code, errorText);
    // The system's text normally brings the line break; a cut one does not.
    std::size_t length = std::strlen(line);
    if (length < kLineEndSize || std::strcmp(line + length - kLineEndSize, kLineEnd) != 0) {
        std::strcat(line, kLineEnd);
    }
    Emit(line);
}

void AppendText(const char* format, ...) {
    char text[kRawTextSize];
    va_list arguments;
    va_start(arguments, format);
    FormatRaw(text, format, arguments);
    va_end(arguments);
    Report().LogText(text);
}

void BlockBegin(LogBlock& block, bool toOutput) {
    block.text[0] = '\0';
    block.used = 0;
    block.toOutput = toOutput;
}

void BlockFlush(LogBlock& block) {
    if (block.used > 0) {
        if (block.toOutput) {
            Report().Output(block.text);
        } else {
            Report().LogText(block.text);
        }
    }
    block.text[0] = '\0';
    block.used = 0;
}

void BlockAppend(LogBlock& block, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list retry;
    va_copy(retry, arguments);
    std::size_t room = sizeof block.text - block.used;
    int wanted = std::vsnprintf(block.text + block.used, room, format, arguments);
    va_end(arguments);
    if (wanted >= 0 && static_cast<std::size_t>(wanted) < room) {
        block.used += static_cast<std::size_t>(wanted);
        va_end(retry);
        return;
    }
    // The piece goes whole into the next text; one longer than a raw text is
    // cut by the raw-text rule first.
    block.text[block.used] = '\0';
    BlockFlush(block);
    char piece[kRawTextSize];
    FormatRaw(piece, format, retry);
    va_end(retry);
    std::size_t length = std::strlen(piece);
    std::memcpy(block.text, piece, length + 1);
    block.used = length;
}

#include "ui/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "resources/ids.h"
#include "text/bounded_text.h"
#include "ui/state.h"

std::atomic<unsigned> lineCounter{0};

namespace {

constexpr std::size_t kErrorTextSize = 100;
constexpr char kLineEnd[] = "\r\n";

// Prefix with counter and local time, then the message; leaves room for
// reserve more bytes. Returns the length written.
std::size_t FormatTimestamped(char* line, std::size_t reserve, const char* format, va_list arguments) {
    std::memset(line, 0, kLogLineSize);
    LocalTime now = GetLocalTimeNow();
    unsigned n = lineCounter.fetch_add(1, std::memory_order_relaxed);
    std::snprintf(line, kLogLineSize, "%04u#%02d:%02d:%02d:%03d>> ", n, now.hour, now.minute, now.second,
                  now.milliseconds);
    AppendFormatV(line, kLogLineSize - reserve, format, arguments);
    return std::strlen(line);
}

void Emit(const char* line) {
    DebugOutput(line);
    if (mainDialog != nullptr) {
        EditAppendText(mainDialog, IDC_LOG, line);
    }
}

}  // namespace

void LogMessage(const char* format, ...) {
    char line[kLogLineSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTimestamped(line, sizeof kLineEnd - 1, format, arguments);
    va_end(arguments);
    std::strcat(line, kLineEnd);
    Emit(line);
}

void LogLastError(const char* format, ...) {
    // Read first: building the line must not be able to change it.
    unsigned code = GetLastErrorCode();
    char errorText[kErrorTextSize];
    GetErrorText(code, errorText, sizeof errorText);

    char line[kLogLineSize];
    va_list arguments;
    va_start(arguments, format);
    FormatTimestamped(line, 0, format, arguments);
    va_end(arguments);
    AppendFormat(line, sizeof line, ":Last Err(%x)%s", code, errorText);
    Emit(line);
}

void AppendText(Window window, int controlId, const char* format, ...) {
    char text[kRawTextSize];
    std::memset(text, 0, sizeof text);
    va_list arguments;
    va_start(arguments, format);
    int wanted = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (wanted >= static_cast<int>(sizeof text)) {
        // Truncated text still ends with a line break.
        text[kRawTextSize - 2] = '\n';
        text[kRawTextSize - 1] = '\0';
    }
    EditAppendText(window, controlId, text);
}

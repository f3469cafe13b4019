// Kernel services: the local time, debugger output, error codes and their
// texts, and pauses.
#include "platform/platform.h"

#include <iterator>

#include "platform/win32/win32_internal.h"

using namespace win32;

// ---- kernel services ----

LocalTime GetLocalTimeNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void DebugOutput(const char* text) {
    Wide<kTextUnits> line(text);
    OutputDebugStringW(line.text);
}

unsigned GetLastErrorCode() { return GetLastError(); }

void SetLastErrorCode(unsigned code) { SetLastError(code); }

void GetErrorText(unsigned code, char* buffer, std::size_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    DWORD kept = GetLastError();
    // Room for any system text: every unit becomes at most three UTF-8 bytes
    // of the caller's line-sized buffer.
    wchar_t text[1700];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0x400, text,
                                 static_cast<DWORD>(std::size(text)), nullptr);
    if (units > 0) {
        WideToUtf8(text, static_cast<int>(units), buffer, size);
    }
    SetLastError(kept);
}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

// The platform seam over the real Win32 calls, in one file per concern:
// text, controls, dialogs, kernel, processes, files and the run lock, devices
// and the COM port database. Texts arrive as UTF-8 and go to the Unicode
// window functions through bounded stack buffers; nothing here allocates.
// This header holds what those files share.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace win32 {

// The biggest texts the program shows: the rename result report and the log's
// raw text are 10240 bytes, the usage summary 8192. Every UTF-8 text of
// 10239 bytes fits in 10240 UTF-16 units.
constexpr int kTextUnits = 10240;
constexpr int kShortUnits = 512;
constexpr int kPathUnits = 1024;
// Any path or command line Windows can hold, terminator included.
constexpr int kLongUnits = 32768;

inline bool IsContinuationByte(unsigned char c) { return (c & 0xC0u) == 0x80u; }

// Converts a terminated UTF-8 text into out (terminated). A text that does not
// fit is cut at a character boundary.
void Utf8ToWide(const char* text, wchar_t* out, int capacity);

// Converts units UTF-16 units into a terminated UTF-8 text of at most size-1
// bytes, cut at a character boundary.
void WideToUtf8(const wchar_t* text, int units, char* buffer, std::size_t size);

// A UTF-8 text converted for one call.
template <int Units>
struct Wide {
    wchar_t text[Units];
    explicit Wide(const char* utf8) { Utf8ToWide(utf8, text, Units); }
};

// Writes all of data to a file or a standard handle, in pieces.
bool WriteAll(HANDLE handle, const char* data, std::size_t length);

}  // namespace win32

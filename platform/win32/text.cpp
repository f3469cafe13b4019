// UTF-8 and UTF-16 conversion for the Win32 calls, and the device-manager
// library's texts, which are in the ANSI code page.
#include "platform/platform.h"

#include <cstring>

#include "platform/win32/win32_internal.h"

namespace win32 {

void Utf8ToWide(const char* text, wchar_t* out, int capacity) {
    out[0] = L'\0';
    if (text == nullptr || capacity < 2) {
        return;
    }
    const int room = capacity - 1;
    std::size_t length = std::strlen(text);
    int bytes = length > static_cast<std::size_t>(room) * 4 ? room * 4 : static_cast<int>(length);
    if (bytes == 0) {
        return;
    }
    int units = MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0);
    if (units > room) {
        // Keep whole characters while they fit: a four-byte sequence takes two
        // units, every other character one.
        int used = 0;
        int cut = 0;
        int i = 0;
        while (i < bytes) {
            int need = static_cast<unsigned char>(text[i]) >= 0xF0u ? 2 : 1;
            if (used + need > room) {
                break;
            }
            used += need;
            ++i;
            while (i < bytes && IsContinuationByte(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            cut = i;
        }
        bytes = cut;
        units = bytes > 0 ? MultiByteToWideChar(CP_UTF8, 0, text, bytes, nullptr, 0) : 0;
        if (units > room) {
            // Malformed input converts one unit per byte at worst.
            bytes = room;
            while (bytes > 0 && IsContinuationByte(static_cast<unsigned char>(text[bytes]))) {
                --bytes;
            }
        }
        if (bytes == 0) {
            return;
        }
    }
    int written = MultiByteToWideChar(CP_UTF8, 0, text, bytes, out, room);
    out[written > 0 ? written : 0] = L'\0';
}

void WideToUtf8(const wchar_t* text, int units, char* buffer, std::size_t size) {
    if (size == 0) {
        return;
    }
    buffer[0] = '\0';
    std::size_t total = 0;
    int cut = 0;
    while (cut < units) {
        wchar_t c = text[cut];
        int step = 1;
        std::size_t need = 3;
        if (c < 0x80) {
            need = 1;
        } else if (c < 0x800) {
            need = 2;
        } else if (c >= 0xD800 && c < 0xDC00 && cut + 1 < units && text[cut + 1] >= 0xDC00 && text[cut + 1] < 0xE000) {
            need = 4;
            step = 2;
        }
        if (total + need > size - 1) {
            break;
        }
        total += need;
        cut += step;
    }
    if (cut == 0) {
        return;
    }
    int written = WideCharToMultiByte(CP_UTF8, 0, text, cut, buffer, static_cast<int>(size - 1), nullptr, nullptr);
    buffer[written > 0 ? written : 0] = '\0';
}

}  // namespace win32

using namespace win32;

void LibraryTextToUtf8(const char* field, std::size_t width, char* buffer, std::size_t size) {
    if (size > 0) {
        buffer[0] = '\0';
    }
    constexpr std::size_t kFieldUnits = 1024;
    int bytes = static_cast<int>(strnlen(field, width < kFieldUnits ? width : kFieldUnits - 1));
    // ASCII reads the same in every ANSI code page and in UTF-8: copied as it
    // is, without a system call a byte (a full table has thousands of fields).
    int ascii = 0;
    while (ascii < bytes && static_cast<unsigned char>(field[ascii]) < 0x80) {
        ++ascii;
    }
    if (ascii == bytes) {
        std::size_t kept = size > 0 && static_cast<std::size_t>(bytes) > size - 1 ? size - 1 : bytes;
        if (size > 0) {
            std::memcpy(buffer, field, kept);
            buffer[kept] = '\0';
        }
        return;
    }
    // A double-byte character cut by the field's end is dropped whole.
    int whole = 0;
    while (whole < bytes) {
        int step = IsDBCSLeadByte(static_cast<BYTE>(field[whole])) ? 2 : 1;
        if (whole + step > bytes) {
            break;
        }
        whole += step;
    }
    if (whole == 0) {
        return;
    }
    wchar_t wide[kFieldUnits];
    int units = MultiByteToWideChar(CP_ACP, 0, field, whole, wide, static_cast<int>(kFieldUnits - 1));
    if (units > 0) {
        WideToUtf8(wide, units, buffer, size);
    }
}

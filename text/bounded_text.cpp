#include "text/bounded_text.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kEllipsis[] = "...";

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u; }

}  // namespace

void CutUtf8(char* text, std::size_t maxBytes) {
    std::size_t length = std::strlen(text);
    if (length <= maxBytes) {
        return;
    }
    std::size_t cut = maxBytes;
    while (cut > 0 && IsContinuationByte(text[cut])) {
        --cut;
    }
    text[cut] = '\0';
}

bool AppendFormatV(char* buffer, std::size_t size, const char* format, va_list arguments) {
    if (size == 0) {
        return false;
    }
    std::size_t used = strnlen(buffer, size);
    if (used >= size) {  // not terminated: repair rather than read past it
        buffer[size - 1] = '\0';
        used = size - 1;
    }
    std::size_t room = size - used;
    int wanted = std::vsnprintf(buffer + used, room, format, arguments);
    if (wanted >= 0 && static_cast<std::size_t>(wanted) < room) {
        return true;
    }
    if (wanted < 0) {
        buffer[used] = '\0';
    }
    // Shorten visibly: the text ends with "..." inside the buffer.
    constexpr std::size_t ellipsis = sizeof kEllipsis - 1;
    if (size <= ellipsis) {
        buffer[0] = '\0';
        return false;
    }
    CutUtf8(buffer, size - 1 - ellipsis);
    std::strcat(buffer, kEllipsis);
    return false;
}

bool AppendFormat(char* buffer, std::size_t size, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    bool fitted = AppendFormatV(buffer, size, format, arguments);
    va_end(arguments);
    return fitted;
}

bool FormatText(char* buffer, std::size_t size, const char* format, ...) {
    if (size == 0) {
        return false;
    }
    buffer[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    bool fitted = AppendFormatV(buffer, size, format, arguments);
    va_end(arguments);
    return fitted;
}

void SubstituteText(char* buffer, std::size_t size, const char* textTemplate, const char* value) {
    if (size == 0) {
        return;
    }
    buffer[0] = '\0';
    bool substituted = false;
    const char* start = textTemplate;
    for (const char* p = textTemplate; *p != '\0'; ++p) {
        if (p[0] != '%') {
            continue;
        }
        if (p[1] == '%') {
            AppendFormat(buffer, size, "%.*s%%", static_cast<int>(p - start), start);
            start = p + 2;
            ++p;
        } else if (!substituted && (p[1] == 's' || p[1] == 'd')) {
            AppendFormat(buffer, size, "%.*s%s", static_cast<int>(p - start), start, value);
            substituted = true;
            start = p + 2;
            ++p;
        }
    }
    AppendFormat(buffer, size, "%s", start);
}

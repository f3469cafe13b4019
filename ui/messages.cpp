#include "ui/messages.h"

#include <cstring>

#include "text/bounded_text.h"

void ShowInfo(Window owner, const char* text) {
    ShowMessageBox(owner, text, kBoxCaption, kBoxInfoOk);
}

bool AskYesNo(Window owner, const char* text) {
    return ShowMessageBox(owner, text, kBoxCaption, kBoxInfoYesNo) == kAnswerYes;
}

bool AskWarningOkCancel(Window owner, const char* text) {
    return ShowMessageBox(owner, text, kBoxCaption, kBoxWarningOkCancel) == kAnswerOk;
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

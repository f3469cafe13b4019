#include "services/messages.h"

#include "resources/strings.h"
#include "text/bounded_text.h"

namespace {
constexpr std::size_t kTemplateSize = 512;
}  // namespace

void ShowInfo(Window owner, const char* text) { ShowMessageBox(owner, text, kBoxCaption, kBoxInfoOk); }

bool AskYesNo(Window owner, const char* text) {
    return ShowMessageBox(owner, text, kBoxCaption, kBoxInfoYesNo) == kAnswerYes;
}

bool AskWarningOkCancel(Window owner, const char* text) {
    return ShowMessageBox(owner, text, kBoxCaption, kBoxWarningOkCancel) == kAnswerOk;
}

void FormatTableText(int stringId, const char* value, char* buffer, std::size_t size) {
    char textTemplate[kTemplateSize];
    LoadStringText(stringId, textTemplate, sizeof textTemplate);
    SubstituteText(buffer, size, textTemplate, value);
}

bool AskTableText(Window owner, int stringId, const char* list, char* buffer, std::size_t size) {
    FormatTableText(stringId, list, buffer, size);
    return AskYesNo(owner, buffer);
}

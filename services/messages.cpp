#include "services/messages.h"

#include "platform/platform.h"
#include "services/reporter.h"
#include "text/bounded_text.h"

namespace {

constexpr std::size_t kTemplateSize = 512;

}  // namespace

void FormatTableText(int stringId, const char* value, char* buffer, std::size_t size) {
    char textTemplate[kTemplateSize];
    LoadStringText(stringId, textTemplate, sizeof textTemplate);
    SubstituteText(buffer, size, textTemplate, value);
}

bool AskTableText(int stringId, const char* list, char* buffer, std::size_t size) {
    FormatTableText(stringId, list, buffer, size);
    return Report().Ask(Question::GoOn, buffer);
}

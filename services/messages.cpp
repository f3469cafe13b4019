#include "services/messages.h"

#include <atomic>

#include "resources/strings.h"
#include "text/bounded_text.h"

namespace {

constexpr std::size_t kTemplateSize = 512;

// Set once by the command line before any run; read by the worker too.
std::atomic<bool> unattended{false};
std::atomic<bool> yesToAllQuestions{false};
std::atomic<bool> declined{false};

void Print(const char* text) {
    ConsoleWrite(text, false);
    ConsoleWrite("\n", false);
}

// An unattended question: printed with the answer it gets. true: go on.
bool AnswerUnattended(const char* text) {
    Print(text);
    if (yesToAllQuestions.load()) {
        Print(kTextAnsweredYes);
        return true;
    }
    Print(kTextNotAnswered);
    declined.store(true);
    return false;
}

}  // namespace

void SetUnattended(bool yesToAll) {
    unattended.store(true);
    yesToAllQuestions.store(yesToAll);
    declined.store(false);
}

bool IsUnattended() { return unattended.load(); }

bool QuestionDeclined() { return declined.load(); }

void ShowInfo(Window owner, const char* text) {
    if (unattended.load()) {
        Print(text);
        return;
    }
    ShowMessageBox(owner, text, kBoxCaption, kBoxInfoOk);
}

bool AskYesNo(Window owner, const char* text) {
    if (unattended.load()) {
        return AnswerUnattended(text);
    }
    return ShowMessageBox(owner, text, kBoxCaption, kBoxInfoYesNo) == kAnswerYes;
}

bool AskToAbandon(Window owner, const char* text) {
    if (unattended.load()) {
        return !AnswerUnattended(text);
    }
    return ShowMessageBox(owner, text, kBoxCaption, kBoxInfoYesNo) == kAnswerYes;
}

bool AskWarningOkCancel(Window owner, const char* text) {
    if (unattended.load()) {
        return AnswerUnattended(text);
    }
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

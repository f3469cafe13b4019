#include "core/layouts.h"

#include "core/program.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "resources/strings.h"
#include "text/bounded_text.h"

namespace {

// A layout of every card of a full rig, with room to spare for names.
constexpr std::size_t kLayoutFileSize = 1 << 20;

char fileText[kLayoutFileSize];
PortLayout layout;
LayoutMatch match;
// The cards of every category by position, as the layout was matched with;
// an apply's run starts only on these same cards.
DeviceTable layoutCards;
RunMapping previewMapping;

// "-" names the standard handle, input or output.
bool IsStandardHandle(const char* path) { return path[0] == '-' && path[1] == '\0'; }

}  // namespace

const PortLayout& LoadedLayout() { return layout; }
const DeviceTable& LayoutCards() { return layoutCards; }
const LayoutMatch& LoadedMatch() { return match; }

bool LoadLayoutFile(const char* path, char* reason, std::size_t size) {
    layout.cardCount = 0;
    std::size_t length = 0;
    FileRead read = IsStandardHandle(path) ? ReadStandardInput(fileText, sizeof fileText, &length)
                                           : ReadWholeFile(path, fileText, sizeof fileText, &length);
    if (read != FileRead::Done) {
        FormatText(reason, size, read == FileRead::TooBig ? kLayoutFileTooBig : kLayoutFileUnread, path);
        return false;
    }
    if (!ReadLayout(fileText, length, layout, reason, size)) {
        return false;
    }
    EnumerateCards(layoutCards, kCategoryAll, kOrderByPosition);
    return MatchLayout(layoutCards, layout, match, reason, size);
}

LayoutCheck CheckLoadedLayout(CheckFormat format, std::string& text) {
    return CheckLayout(layoutCards, layout, match, format, text);
}

std::string LoadedLayoutState() {
    EnumerateCards(layoutCards, kCategoryAll, kOrderByPosition);
    static char reason[kLayoutReasonSize];
    if (!MatchLayout(layoutCards, layout, match, reason, sizeof reason)) {
        return std::string();
    }
    return LayoutState(layoutCards, layout, match);
}

unsigned PreviewLoadedLayout() {
    MapLayout(layoutCards, layout, match, previewMapping);
    if (previewMapping.count > 0) {
        PreviewMapping(layoutCards, previewMapping);
    }
    return previewMapping.count;
}

RunOutcome ApplyHere() {
    if (!ClaimRun()) {
        return RunOutcome::Busy;
    }
    RunOutcome outcome = RunApply(layout, layoutCards);
    EndRun();
    return outcome;
}

bool StartApplyRun(void (*ended)(RunOutcome)) {
    return StartRunJob(RunJob{false, &layout, RunRequest{}, &layoutCards, ended});
}

bool ExportLayout(const char* path, bool dscState, char* reason, std::size_t size) {
    std::string text;
    if (!WriteLayout(ListedCards(), dscState, text, reason, size)) {
        return false;
    }
    if (IsStandardHandle(path)) {
        ConsoleWrite(text.c_str(), false);
        return true;
    }
    if (!SaveFileWhole(path, text.data(), text.size())) {
        FormatText(reason, size, kLayoutFileUnwritten, path);
        return false;
    }
    return true;
}

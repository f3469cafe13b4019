#include "ui/log_edit.h"

#include <cstring>
#include <string_view>

#include "resources/ids.h"
#include "services/log.h"

namespace {

constexpr unsigned kHeldTextTimer = 1;
constexpr std::size_t kPieceSize = 16 * 1024;

struct HeldText {
    char text[kLogBlockSize];
    std::size_t used;   // bytes held
    std::size_t shown;  // of those, the bytes already in the edit
    bool holding;
};
HeldText held;

// The next piece into the edit, ending at a line end; all that is held when
// whole is set.
void ShowPiece(Window dialog, bool whole) {
    std::size_t end = held.used;
    if (!whole && end - held.shown > kPieceSize) {
        std::string_view rest(held.text + held.shown, end - held.shown);
        std::size_t lineEnd = rest.find_last_of('\n', kPieceSize - 1);
        if (lineEnd == std::string_view::npos) {
            lineEnd = rest.find('\n');
        }
        end = lineEnd == std::string_view::npos ? end : held.shown + lineEnd + 1;
    }
    char kept = held.text[end];
    held.text[end] = '\0';
    EditAppendText(dialog, IDC_LOG, held.text + held.shown);
    held.text[end] = kept;
    held.shown = end;
    if (held.shown == held.used) {
        held.used = 0;
        held.shown = 0;
    }
}

}  // namespace

void HoldLogEdit() {
    held.holding = true;
    held.used = 0;
    held.shown = 0;
}

void AppendToLogEdit(Window dialog, int id, const char* text) {
    if (held.holding && id == IDC_LOG) {
        std::size_t length = std::strlen(text);
        if (length >= sizeof held.text - held.used) {
            ShowPiece(dialog, true);
        }
        if (length < sizeof held.text - held.used) {
            std::memcpy(held.text + held.used, text, length + 1);
            held.used += length;
            return;
        }
    }
    EditAppendText(dialog, id, text);
}

void ReleaseLogEdit(Window dialog) {
    if (held.holding) {
        StartWindowTimer(dialog, kHeldTextTimer, 0);
    }
}

void ShowHeldLogText(Window dialog) {
    ShowPiece(dialog, false);
    if (held.used == 0) {
        StopWindowTimer(dialog, kHeldTextTimer);
        held.holding = false;
    }
}

void ClearLogEdit(Window dialog) {
    EditSetText(dialog, IDC_LOG, "");
    held.used = 0;
    held.shown = 0;
}

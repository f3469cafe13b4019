// The test harness over the in-memory platform (native runs).
#include <cstring>
#include <deque>
#include <string>

#include "platform/model/model.h"
#include "tests/support/harness.h"

namespace {

int CopyOut(bool found, const std::string& text, char* buffer, std::size_t size) {
    if (buffer != nullptr && size > 0) {
        buffer[0] = '\0';
    }
    if (!found) {
        return -1;
    }
    if (buffer != nullptr && size > 0) {
        // Cut at a character boundary, like the Win32 harness.
        std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
        while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0u) == 0x80u) {
            --n;
        }
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

// HarnessBoxAt hands out references: the boxes are copied here and kept.
std::deque<HarnessBox>& BoxCopies() {
    static std::deque<HarnessBox> copies;
    return copies;
}

}  // namespace

Window HarnessOpenDialog(int templateId, DialogProc proc) { return ModelOpenDialog(templateId, proc); }

void HarnessCloseDialog(Window dialog) {
    if (ModelIsWindow(dialog)) {
        DestroyDialog(dialog);
    }
}

void HarnessPump() { ModelPump(); }

bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
    return ModelPumpUntil(done, context, timeoutMs);
}

void HarnessQueueAnswer(int answer) { ModelQueueAnswer(answer); }

int HarnessBoxCount() { return ModelBoxCount(); }

const HarnessBox& HarnessBoxAt(int index) {
    std::deque<HarnessBox>& copies = BoxCopies();
    ModelBox box = ModelBoxAt(index);
    copies.emplace_back();
    HarnessBox& copy = copies.back();
    copy.owner = box.owner;
    copy.kind = box.kind;
    CopyOut(true, box.text, copy.text, sizeof copy.text);
    CopyOut(true, box.caption, copy.caption, sizeof copy.caption);
    return copy;
}

int HarnessUnscriptedBoxes() { return ModelUnscriptedBoxes(); }

void HarnessResetBoxes() {
    ModelResetBoxes();
    BoxCopies().clear();
}

void HarnessSetModalDriver(int templateId, HarnessDriver driver, void* context) {
    ModelSetModalDriver(templateId, driver, context);
}

int HarnessListText(Window dialog, int id, int row, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelListRow(dialog, id, row, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessComboText(Window dialog, int id, int row, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelComboRow(dialog, id, row, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessEditText(Window dialog, int id, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelControlText(dialog, id, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessControlText(Window dialog, int id, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelControlText(dialog, id, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessStatusText(Window dialog, int id, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelStatusText(dialog, id, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessWindowTitle(Window window, char* buffer, std::size_t size) {
    std::string text;
    bool found = ModelWindowTitle(window, &text);
    return CopyOut(found, text, buffer, size);
}

int HarnessProgressMax(Window dialog, int id) { return ModelProgressMax(dialog, id); }

int HarnessProgressPos(Window dialog, int id) { return ModelProgressPos(dialog, id); }

bool HarnessHasFocus(Window dialog, int id) { return ModelHasFocus(dialog, id); }

bool HarnessQuitPosted(int* code) { return ModelQuitPosted(code); }

void HarnessResetQuit() { ModelResetQuit(); }

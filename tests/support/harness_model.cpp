// The test harness over the in-memory platform (native runs).
#include "platform/model/model.h"
#include "tests/support/harness.h"

Window HarnessOpenDialog(int templateId, DialogProc proc) { return ModelOpenDialog(templateId, proc); }

void HarnessCloseDialog(Window dialog) { DestroyDialog(dialog); }

void HarnessPump() { ModelPump(); }

bool HarnessPumpUntil(bool (*done)(void*), void* context, unsigned timeoutMs) {
    return ModelPumpUntil(done, context, timeoutMs);
}

void HarnessQueueAnswer(int answer) { ModelQueueAnswer(answer); }

int HarnessBoxCount() { return ModelBoxCount(); }

HarnessBox HarnessBoxAt(int index) {
    ModelBox box = ModelBoxAt(index);
    return HarnessBox{box.owner, box.kind, box.text, box.caption};
}

int HarnessUnscriptedBoxes() { return ModelUnscriptedBoxes(); }

void HarnessResetBoxes() { ModelResetBoxes(); }

std::string HarnessText(Window dialog, int id) {
    std::string text;
    return ModelControlText(dialog, id, &text) ? text : "<missing>";
}

std::string HarnessRowText(Window dialog, int id, int row) {
    std::string text;
    return ModelListRow(dialog, id, row, &text) || ModelComboRow(dialog, id, row, &text) ? text : "<missing>";
}

bool HarnessHasFocus(Window dialog, int id) { return ModelHasFocus(dialog, id); }

int HarnessEditLength(Window dialog, int id) { return ModelEditLength(dialog, id); }

void HarnessSetEditSelection(Window dialog, int id, int start, int end) {
    ModelSetEditSelection(dialog, id, start, end);
}

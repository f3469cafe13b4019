#include "ui/main_views.h"

#include "comdb/number_usage.h"
#include "core/program.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "resources/strings.h"

Window mainDialog = nullptr;

namespace {

constexpr std::size_t kRowSize = 32;

// What a run's request is read from: locked while the run lasts, so what the
// user sees is what the run does.
constexpr int kRequestControls[] = {IDC_ADAPTER_LIST,    IDC_PORT_LIST,  IDC_CATEGORY,  IDC_ORDER,
                                    IDC_SCOPE_PORT,      IDC_SCOPE_CARD, IDC_SCOPE_ALL, IDC_START_NUMBER,
                                    IDC_PLAN_SEQUENTIAL, IDC_ENUMERATE,  IDC_CHANGE};

HubMask ReadHubGroup(int switchId, const std::array<int, kHubPorts>& boxes) {
    if (!IsButtonChecked(mainDialog, switchId)) {
        return 0;
    }
    HubMask mask = kHubGroupOn;
    for (unsigned port = 0; port < boxes.size(); ++port) {
        if (IsButtonChecked(mainDialog, boxes[port])) {
            mask = static_cast<HubMask>(mask | 1u << port);
        }
    }
    return mask;
}

}  // namespace

std::uint32_t EnumerateDevices() {
    int category = ComboGetSelection(mainDialog, IDC_CATEGORY);
    int order = ComboGetSelection(mainDialog, IDC_ORDER);
    int previous = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    std::uint32_t count = ListCards(category, order);
    const DeviceTable& cards = ListedCards();
    ListEmpty(mainDialog, IDC_ADAPTER_LIST);
    char row[kCardRowSize];
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        FormatCardRow(cards.slots[slot], slot, row, sizeof row);
        ListAddRow(mainDialog, IDC_ADAPTER_LIST, row);
    }
    ListSelectRow(mainDialog, IDC_ADAPTER_LIST, KeptRow(previous, static_cast<int>(count)));
    ShowPorts();
    LogListedSummary();
    return count;
}

void ShowPorts() {
    int previous = ListGetSelection(mainDialog, IDC_PORT_LIST);
    ListEmpty(mainDialog, IDC_PORT_LIST);
    const DeviceTable& cards = ListedCards();
    int device = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    if (device < 0 || static_cast<std::uint32_t>(device) >= cards.count) {
        // Ends the refill, as on the other path.
        ListSelectRow(mainDialog, IDC_PORT_LIST, kNoRow);
        StatusSetText(mainDialog, IDC_STATUS, kTextNoCard);
        return;
    }
    const DeviceRecord& card = cards.slots[device];
    char row[kPortRowSize];
    for (unsigned j = 0; j < PortRowCount(card); ++j) {
        FormatPortRow(card, j, row, sizeof row);
        ListAddRow(mainDialog, IDC_PORT_LIST, row);
    }
    ListSelectRow(mainDialog, IDC_PORT_LIST, KeptRow(previous, static_cast<int>(PortCountOf(card))));
    FormatStatusText(card, row, sizeof row);
    StatusSetText(mainDialog, IDC_STATUS, row);
}

void SyncStartNumber() {
    int row = kNoRow;
    if (StartRowOfPort(ListedCards(), ListGetSelection(mainDialog, IDC_ADAPTER_LIST),
                       ListGetSelection(mainDialog, IDC_PORT_LIST), &row)) {
        ComboSelectRow(mainDialog, IDC_START_NUMBER, row);
    }
}

void FillStartNumbers(bool advance) {
    if (!EnsureComDbOpen()) {
        return;
    }
    int selection = ComboGetSelection(mainDialog, IDC_START_NUMBER);
    ComboEmpty(mainDialog, IDC_START_NUMBER);
    PortUsageBits bits;
    ReadPortUsage(bits);
    char row[kRowSize];
    for (unsigned n = 1; n <= kComNumberRows; ++n) {
        FormatNumberRow(row, sizeof row, n, IsNumberClaimed(bits, n));
        ComboAddRow(mainDialog, IDC_START_NUMBER, row);
    }
    ComboSelectRow(mainDialog, IDC_START_NUMBER, DefaultStartRow(bits, selection, advance));
}

NumberingPlan ReadNumberingPlan() {
    NumberingPlan plan{};
    plan.hubMode =
        !IsButtonChecked(mainDialog, IDC_PLAN_SEQUENTIAL) && IsButtonChecked(mainDialog, IDC_PLAN_HUB) ? 1 : 0;
    plan.startIndex = static_cast<std::uint16_t>(ComboGetSelection(mainDialog, IDC_START_NUMBER));
    if (plan.hubMode != 0) {
        plan.upMask = ReadHubGroup(IDC_HUB_UP, kUpPortBoxes);
        plan.downMask = ReadHubGroup(IDC_HUB_DOWN, kDownPortBoxes);
    }
    return plan;
}

RunRequest ReadRunRequest() {
    RenameScope scope = RenameScope::SelectedCard;
    if (IsButtonChecked(mainDialog, IDC_SCOPE_PORT)) {
        scope = RenameScope::SelectedPort;
    } else if (IsButtonChecked(mainDialog, IDC_SCOPE_ALL)) {
        scope = RenameScope::AllCards;
    }
    NumberingPlan plan = ReadNumberingPlan();
    return MakeRunRequest(scope, ListGetSelection(mainDialog, IDC_ADAPTER_LIST),
                          ListGetSelection(mainDialog, IDC_PORT_LIST), ComboGetSelection(mainDialog, IDC_START_NUMBER),
                          plan.hubMode != 0, plan.upMask, plan.downMask, ListedCategory(), ListedOrder());
}

void UpdateControlStates() {
    bool idle = busyFlag.load() == 0;
    for (int id : kRequestControls) {
        EnableControl(mainDialog, id, idle);
    }
    // The hub plan exists only for USB cards.
    EnableControl(mainDialog, IDC_PLAN_HUB, idle && ComboGetSelection(mainDialog, IDC_CATEGORY) == kCategoryUsb);
    bool hubPlan = idle && IsButtonChecked(mainDialog, IDC_PLAN_HUB);
    EnableControl(mainDialog, IDC_HUB_UP, hubPlan);
    EnableControl(mainDialog, IDC_HUB_DOWN, hubPlan);
    bool upOn = hubPlan && IsButtonChecked(mainDialog, IDC_HUB_UP);
    bool downOn = hubPlan && IsButtonChecked(mainDialog, IDC_HUB_DOWN);
    for (int box : kUpPortBoxes) {
        EnableControl(mainDialog, box, upOn);
    }
    for (int box : kDownPortBoxes) {
        EnableControl(mainDialog, box, downOn);
    }
}

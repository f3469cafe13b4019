#include "renumber/worker.h"

#include <cstdio>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/devmgr.h"
#include "inventory/views.h"
#include "renumber/plan.h"
#include "renumber/scan.h"
#include "resources/ids.h"
#include "text/bounded_text.h"
#include "ui/log.h"
#include "ui/messages.h"
#include "ui/state.h"

namespace {

constexpr std::size_t kResultSize = 10240;
constexpr std::size_t kStringSize = 512;
constexpr unsigned kRenamePauseMs = 10;
constexpr unsigned kEnablePauseMs = 10;

void SetProgressRange(int maximum) { ProgressSetRange(mainDialog, IDC_PROGRESS, maximum); }
void SetProgress(int position) { ProgressSetPos(mainDialog, IDC_PROGRESS, position); }

void LockRunButtons(bool locked) {
    EnableControl(mainDialog, IDC_ENUMERATE, !locked);
    EnableControl(mainDialog, IDC_CHANGE, !locked);
}

const char* Outcome(int ok) { return ok != 0 ? "成功" : "失败"; }

// The hub plan only makes sense for cards of one kind. true: go on.
bool ConfirmMixedCards() {
    unsigned count = ListedCardCount();
    for (unsigned d = 1; d < count; ++d) {
        if (PortCountOf(deviceTable.slots[d]) != PortCountOf(deviceTable.slots[d - 1])) {
            return !AskYesNo(mainDialog,
                             "只支持同类型多串卡的串口号修改,可根据HUB位置设定串口号，否则串口号可能会冲突。\n放弃本次操作?");
        }
    }
    return true;
}

// With the upstream group on and the downstream group off, the hub formula
// gives every card behind a hub the start number: refuse instead of giving
// many ports one number.
bool HubPlanIsUsable() {
    ReadNumberingPlan();
    if (numberingPlan.hubMode == 0) {
        return true;
    }
    if ((numberingPlan.upMask & kHubGroupOn) != 0 && (numberingPlan.downMask & kHubGroupOn) == 0) {
        LogMessage("Hub上游口已选而Hub下游口未选,串口号修改已取消.");
        ShowInfo(mainDialog,
                 "只选择Hub上游口而不选择Hub下游口时,多个串口会得到同一个串口号.\n"
                 "请同时选择Hub下游口,或改用\"从起始串口号开始,依次递增\".");
        return false;
    }
    return true;
}

bool ConfirmWithList(int stringId, const char* list, char* text) {
    char textTemplate[kStringSize];
    LoadStringText(stringId, textTemplate, sizeof textTemplate);
    SubstituteText(text, kResultSize, textTemplate, list);
    return AskYesNo(mainDialog, text);
}

void RenameSelectedPort(int device, int port, std::uint16_t n, char* result) {
    PortRecord& target = deviceTable.slots[device].ports[port];
    SetProgressRange(3);
    ChangeDeviceStatus(DevInfoSetValue(target.devInfoSet), target.devInfo, 0, kEnableWaitMs);
    SetProgress(1);
    int ok = ModifyCOMName(target.portName, n);
    SetProgress(2);
    char description[kUtf8Room<sizeof PortRecord::description>];
    char name[kUtf8Room<sizeof PortRecord::portName>];
    AppendFormat(result, kResultSize, "%s:%s==>COM%u: %s\r\n", FieldText(target.description, description, sizeof description),
                 FieldText(target.portName, name, sizeof name), static_cast<unsigned>(n), Outcome(ok));
    ChangeDeviceStatus(DevInfoSetValue(target.devInfoSet), target.devInfo, 1, kEnableWaitMs);
    SetProgress(3);
}

void RenameCards(unsigned first, unsigned last, std::uint16_t n, char* result) {
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    for (unsigned d = first; d < last; ++d) {
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 0, kDisableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(0);
    }
    SetProgressRange(static_cast<int>(PortCountOf(deviceTable.slots[first])) + 3);
    char description[kUtf8Room<sizeof PortRecord::description>];
    char name[kUtf8Room<sizeof PortRecord::portName>];
    for (unsigned d = first; d < last; ++d) {
        DeviceRecord& card = deviceTable.slots[d];
        unsigned ports = PortCountOf(card);
        for (unsigned j = 0; j < ports; ++j) {
            PortRecord& port = card.ports[j];
            if (IsButtonChecked(mainDialog, IDC_PLAN_HUB)) {
                std::uint16_t v = ComputeHubNumber(card.locationPath, static_cast<std::uint16_t>(j),
                                                   static_cast<std::uint16_t>(ports));
                if (v != 0) {
                    n = v;
                }
            }
            int ok = n != 0 ? ModifyCOMName(port.portName, n) : 0;
            AppendFormat(result, kResultSize, "\r\n%s:%s==>COM%u: %s",
                         FieldText(port.description, description, sizeof description),
                         FieldText(port.portName, name, sizeof name), static_cast<unsigned>(n), Outcome(ok));
            SetProgress(static_cast<int>(j + 2));
            SleepMs(kRenamePauseMs);
            n = static_cast<std::uint16_t>(n + 1);
        }
        SetProgress(static_cast<int>(ports + 3));
    }
    SetProgressRange(static_cast<int>(last));
    SetProgress(0);
    SetProgress(1);
    LogMessage("Restarting...");
    for (unsigned d = first; d < last; ++d) {
        DeviceRecord& card = deviceTable.slots[d];
        ChangeDeviceStatus(DevInfoSetValue(card.devInfoSet), card.devInfo, 1, kEnableWaitMs);
        SetProgress(static_cast<int>(d + 1));
        SleepMs(kEnablePauseMs);
    }
}

// Everything between the start and the end of a run; every return leads to
// the same end.
void RunRename(char* result) {
    char inUseList[kInUseListSize] = "";
    char claimedList[kClaimedListSize] = "";

    int device = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    int port = ListGetSelection(mainDialog, IDC_PORT_LIST);
    int start = ComboGetSelection(mainDialog, IDC_START_NUMBER);
    SetProgressRange(3);
    if (device == kNoRow || port == kNoRow || start == kNoRow ||
        static_cast<std::uint32_t>(device) >= deviceTable.count ||
        static_cast<unsigned>(port) >= PortCountOf(deviceTable.slots[device])) {
        ShowInfo(mainDialog, "请先选择一个设备.");
        return;
    }
    SetProgress(1);
    if (IsButtonChecked(mainDialog, IDC_PLAN_HUB)) {
        if (!ConfirmMixedCards()) {
            return;
        }
        if (ReadRenameScope() != RenameScope::SelectedPort && !HubPlanIsUsable()) {
            return;
        }
    }
    AppendText(mainDialog, IDC_LOG, "\r\n");
    auto n = static_cast<std::uint16_t>(start + 1);
    LogMessage("串口号修改从COM%u开始...\n", static_cast<unsigned>(n));

    std::uint32_t held = ScanConflicts(inUseList, sizeof inUseList, claimedList, sizeof claimedList);
    if (held != 0 && !ConfirmWithList(IDS_PORTS_HELD, inUseList, result)) {
        LogMessage("串口号修改操作已取消1。");
        return;
    }
    SetProgress(2);
    if (claimedList[0] != '\0' && !ConfirmWithList(IDS_NUMBERS_CLAIMED, claimedList, result)) {
        LogMessage("串口号修改操作已取消2。");
        return;
    }
    SetProgress(3);
    result[0] = '\0';

    if (IsButtonChecked(mainDialog, IDC_SCOPE_PORT)) {
        // The hub plan does not apply here: the port always gets the start number.
        RenameSelectedPort(device, port, n, result);
    } else {
        unsigned first = static_cast<unsigned>(device);
        unsigned last = first + 1;
        if (IsButtonChecked(mainDialog, IDC_SCOPE_ALL)) {
            first = 0;
            last = ListedCardCount();
        }
        if (first < last) {
            RenameCards(first, last, n, result);
        }
    }
    if (inUseList[0] != '\0') {
        AppendFormat(result, kResultSize, "因原串口(%s)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。",
                     inUseList);
    }
    if (result[0] != '\0') {
        LogMessage("****%s", result);
        ShowInfo(mainDialog, result);
    }
}

}  // namespace

RenameScope ReadRenameScope() {
    if (IsButtonChecked(mainDialog, IDC_SCOPE_PORT)) {
        return RenameScope::SelectedPort;
    }
    return IsButtonChecked(mainDialog, IDC_SCOPE_ALL) ? RenameScope::AllCards : RenameScope::SelectedCard;
}

bool StartRenameRun() {
    int idle = 0;
    if (!busyFlag.compare_exchange_strong(idle, 1)) {
        LogMessage("串口号修改正在进行,请等待完成.");
        return false;
    }
    LockRunButtons(true);
    if (!StartThread(RenamePortsThread, nullptr)) {
        LogLastError("CreateThread");
        busyFlag.store(0);
        LockRunButtons(false);
        return false;
    }
    return true;
}

unsigned KESTROVA_CALLBACK RenamePortsThread(void*) {
    busyFlag.store(1);
    LockRunButtons(true);
    // The result text also carries the confirmation questions.
    static char result[kResultSize];
    result[0] = '\0';
    RunRename(result);

    busyFlag.store(0);
    LockRunButtons(false);
    FillStartNumbers(true);
    ClickButton(mainDialog, IDC_ENUMERATE);
    return 0;
}

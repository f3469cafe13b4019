#include "renumber/scan.h"

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/views.h"
#include "renumber/plan.h"
#include "resources/ids.h"
#include "text/bounded_text.h"
#include "ui/log.h"
#include "ui/state.h"

namespace {

constexpr unsigned kErrorAccessDenied = 5;
constexpr std::size_t kDevicePathSize = 64;

// Whether another program holds the port open (opening it is refused with
// "access denied"); other failures, such as an unplugged card, are not reported.
bool IsPortHeld(const PortRecord& port) {
    char name[kUtf8Room<sizeof PortRecord::portName>];
    FieldText(port.portName, name, sizeof name);
    char path[kDevicePathSize];
    FormatText(path, sizeof path, "\\\\.\\%s", name);
    if (TryOpenPort(path) != kErrorAccessDenied) {
        return false;
    }
    LogLastError("  %s.CreateFile", path);
    return true;
}

}  // namespace

std::uint32_t ScanConflicts(char* inUseList, std::size_t inUseSize, char* claimedList, std::size_t claimedSize) {
    inUseList[0] = '\0';
    claimedList[0] = '\0';
    int device = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    int port = ListGetSelection(mainDialog, IDC_PORT_LIST);
    int start = ComboGetSelection(mainDialog, IDC_START_NUMBER);
    if (device == kNoRow || port == kNoRow || start == kNoRow || static_cast<std::uint32_t>(device) >= deviceTable.count) {
        LogMessage("No select serial port");
        return 0;
    }
    ProgressSetRange(mainDialog, IDC_PROGRESS, static_cast<int>(PortCountOf(deviceTable.slots[device])) + 3);

    unsigned first = static_cast<unsigned>(device);
    unsigned last = first + 1;
    if (IsButtonChecked(mainDialog, IDC_SCOPE_ALL)) {
        first = 0;
        last = ListedCardCount();
    }
    auto n = static_cast<std::uint16_t>(start + 1);
    std::uint32_t held = 0;
    for (unsigned d = first; d < last; ++d) {
        const DeviceRecord& record = deviceTable.slots[d];
        unsigned ports = PortCountOf(record);
        ProgressSetPos(mainDialog, IDC_PROGRESS, 0);
        for (unsigned j = 0; j < ports; ++j) {
            if (IsButtonChecked(mainDialog, IDC_SCOPE_PORT)) {
                // Only the one port that is renumbered gets a number test.
                if (j == 0) {
                    if (IsPortNumberClaimed(n)) {
                        AppendFormat(claimedList, claimedSize, "COM%u,", static_cast<unsigned>(n));
                    }
                    n = static_cast<std::uint16_t>(n + 1);
                }
            } else {
                bool hubPlan = IsButtonChecked(mainDialog, IDC_PLAN_HUB);
                if (hubPlan) {
                    n = ComputeHubNumber(record.locationPath, static_cast<std::uint16_t>(j),
                                         static_cast<std::uint16_t>(ports));
                    if (n == 0) {
                        continue;
                    }
                }
                if (IsPortNumberClaimed(n)) {
                    AppendFormat(claimedList, claimedSize, "COM%u,", static_cast<unsigned>(n));
                }
                if (!hubPlan) {
                    n = static_cast<std::uint16_t>(n + 1);
                }
            }
            if (IsPortHeld(record.ports[j])) {
                char name[kUtf8Room<sizeof PortRecord::portName>];
                AppendFormat(inUseList, inUseSize, "%s,", FieldText(record.ports[j].portName, name, sizeof name));
                ++held;
            }
        }
    }
    return held;
}

#include "inventory/views.h"

#include <algorithm>

#include "comdb/number_usage.h"
#include "inventory/device_table.h"
#include "inventory/devmgr.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "services/log.h"
#include "services/state.h"
#include "text/bounded_text.h"

int currentCategory = 0;

namespace {

constexpr std::size_t kAdapterRowSize = 1024;
constexpr std::size_t kPortRowSize = 256;

const char* CdcOrVcp(const PortRecord& port) { return port.isCdc != 0 ? "CDC" : "VCP"; }

// Built in a bounded buffer and appended in as few pieces as the log allows.
void AppendTreeSummary(std::uint32_t count) {
    static LogBlock block;
    BlockBegin(block);
    unsigned portTotal = 0;
    char description[kUtf8Room<sizeof PortRecord::description>];
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        const DeviceRecord& record = deviceTable.slots[slot];
        const PortRecord& first = record.ports[0];
        if (record.singlePort != 0) {
            char label[kUtf8Room<sizeof PortRecord::portLabel>];
            BlockAppend(block, "\r\n|--%u#[%s][%s]%s", slot + 1, CdcOrVcp(first),
                        FieldText(first.portLabel, label, sizeof label),
                        FieldText(first.description, description, sizeof description));
            portTotal += 1;
            continue;
        }
        char name[kUtf8Room<sizeof DeviceRecord::deviceName>];
        char usbId[kUtf8Room<sizeof DeviceRecord::usbId>];
        unsigned ports = PortCountOf(record);
        BlockAppend(block, "\r\n|--%u#[%uP][%s][%s]", slot + 1, ports, FieldText(record.deviceName, name, sizeof name),
                    FieldText(record.usbId, usbId, sizeof usbId));
        for (unsigned j = 0; j < ports; ++j) {
            BlockAppend(block, "\r\n   |--P%u:[%s]%s", j + 1, CdcOrVcp(record.ports[j]),
                        FieldText(record.ports[j].description, description, sizeof description));
        }
        portTotal += ports;
    }
    BlockAppend(block, kTextSummaryTotal, count, portTotal);
    BlockFlush(block);
}

}  // namespace

std::uint32_t EnumerateDevices() {
    ResetDeviceTable();
    currentCategory = ComboGetSelection(mainDialog, IDC_CATEGORY);
    auto order = static_cast<std::uint8_t>(ComboGetSelection(mainDialog, IDC_ORDER) & 0xFF);
    std::uint32_t reported =
        EnumComPortDev(static_cast<std::uint32_t>(currentCategory), order, deviceTable.slots, kMaxDevices);
    std::uint32_t count = AcceptDeviceCount(reported);

    int previous = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    if (previous == kNoRow) {
        previous = 0;
    }
    ListEmpty(mainDialog, IDC_ADAPTER_LIST);
    char row[kAdapterRowSize];
    char label[kUtf8Room<sizeof DeviceRecord::typeLabel>];
    char name[kUtf8Room<sizeof DeviceRecord::deviceName>];
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        const DeviceRecord& record = deviceTable.slots[slot];
        FormatText(row, sizeof row, " %u#[%s]:%s", slot + 1, FieldText(record.typeLabel, label, sizeof label),
                   FieldText(record.deviceName, name, sizeof name));
        ListAddRow(mainDialog, IDC_ADAPTER_LIST, row);
    }
    int countRows = static_cast<int>(count);
    ListSelectRow(mainDialog, IDC_ADAPTER_LIST, std::min(previous, countRows - 1));
    ShowPorts();
    AppendTreeSummary(count);
    return count;
}

void ShowPorts() {
    int previous = ListGetSelection(mainDialog, IDC_PORT_LIST);
    if (previous == kNoRow) {
        previous = 0;
    }
    ListEmpty(mainDialog, IDC_PORT_LIST);
    int device = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    if (device < 0 || static_cast<std::uint32_t>(device) >= deviceTable.count) {
        // Ends the refill, as on the other path.
        ListSelectRow(mainDialog, IDC_PORT_LIST, kNoRow);
        StatusSetText(mainDialog, IDC_STATUS, kTextNoCard);
        return;
    }
    const DeviceRecord& record = deviceTable.slots[device];
    int ports = static_cast<int>(PortCountOf(record));
    char row[kPortRowSize];
    char description[kUtf8Room<sizeof PortRecord::description>];
    if (record.singlePort != 0) {
        const PortRecord& first = record.ports[0];
        FormatText(row, sizeof row, " 1/1#[%s]: %s", CdcOrVcp(first),
                   FieldText(first.description, description, sizeof description));
        ListAddRow(mainDialog, IDC_PORT_LIST, row);
    } else {
        for (int j = 0; j < ports; ++j) {
            const PortRecord& port = record.ports[j];
            FormatText(row, sizeof row, " %d/%d# [%s]: %s", j + 1, ports, CdcOrVcp(port),
                       FieldText(port.description, description, sizeof description));
            ListAddRow(mainDialog, IDC_PORT_LIST, row);
        }
    }
    // Clamped against portCount also for a single-port card, whose one row
    // then stays unselected when an earlier row was selected.
    ListSelectRow(mainDialog, IDC_PORT_LIST, std::min(previous, ports - 1));

    char usbId[kUtf8Room<sizeof DeviceRecord::usbId>];
    char vendor[kUtf8Room<sizeof PortRecord::vendor>];
    char location[kUtf8Room<sizeof DeviceRecord::locationText>];
    FormatText(row, sizeof row, "PortCnt:%d | USBID:%s | Vendor:%s | Location(%d):%s", ports,
               FieldText(record.usbId, usbId, sizeof usbId), FieldText(record.ports[0].vendor, vendor, sizeof vendor),
               record.locationNumber, FieldText(record.locationText, location, sizeof location));
    StatusSetText(mainDialog, IDC_STATUS, row);
}

void SyncStartNumber() {
    int device = ListGetSelection(mainDialog, IDC_ADAPTER_LIST);
    int port = ListGetSelection(mainDialog, IDC_PORT_LIST);
    // No row (-1) is outside both ranges.
    if (static_cast<std::uint32_t>(device) >= deviceTable.count ||
        static_cast<unsigned>(port) >= PortCountOf(deviceTable.slots[device])) {
        return;
    }
    std::uint32_t number = deviceTable.slots[device].ports[port].portNumber;
    if (number != 0) {
        // A number above 256 has no row: selecting past the end clears the combo.
        int row = number > kComNumberRows ? static_cast<int>(kComNumberRows) : static_cast<int>(number - 1);
        ComboSelectRow(mainDialog, IDC_START_NUMBER, row);
    }
}

unsigned ListedCardCount() {
    int rows = ListGetCount(mainDialog, IDC_ADAPTER_LIST);
    return std::min(static_cast<unsigned>(std::max(rows, 0)), deviceTable.count);
}

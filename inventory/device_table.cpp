#include "inventory/device_table.h"

#include <cstring>

#include "resources/strings.h"
#include "services/log.h"

DeviceTable deviceTable;

void ResetDeviceTable() { std::memset(&deviceTable, 0, sizeof deviceTable); }

std::uint32_t AcceptDeviceCount(std::uint32_t reported) {
    std::uint32_t count = reported;
    if (count > kMaxDevices) {
        LogMessage(kLogTooManyCards, reported, kMaxDevices);
        count = kMaxDevices;
    }
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        DeviceRecord& record = deviceTable.slots[slot];
        if (record.portCount > kMaxPorts) {
            LogMessage(kLogTooManyPorts, slot + 1, record.portCount, kMaxPorts);
            record.portCount = static_cast<std::uint8_t>(kMaxPorts);
        }
    }
    deviceTable.count = count;
    return count;
}

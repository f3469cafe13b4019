#include "inventory/device_table.h"

#include <cstring>

#include "resources/strings.h"
#include "services/log.h"

void ResetDeviceTable(DeviceTable& table) { std::memset(&table, 0, sizeof table); }

std::uint32_t AcceptDeviceCount(DeviceTable& table, std::uint32_t reported) {
    std::uint32_t count = reported;
    if (count > kMaxDevices) {
        LogMessage(kLogTooManyCards, reported, kMaxDevices);
        count = kMaxDevices;
    }
    for (std::uint32_t slot = 0; slot < count; ++slot) {
        DeviceRecord& record = table.slots[slot];
        if (record.portCount > kMaxPorts) {
            LogMessage(kLogTooManyPorts, slot + 1, record.portCount, kMaxPorts);
            record.portCount = static_cast<std::uint8_t>(kMaxPorts);
        }
    }
    table.count = count;
    return count;
}

namespace {

template <std::size_t N>
bool SameText(const char (&a)[N], const char (&b)[N]) {
    return std::strncmp(a, b, N) == 0;
}

bool SameCard(const DeviceRecord& a, const DeviceRecord& b) {
    if (a.portCount != b.portCount || a.singlePort != b.singlePort || !SameText(a.usbId, b.usbId) ||
        !SameText(a.deviceName, b.deviceName) || !SameText(a.locationText, b.locationText) ||
        std::memcmp(a.locationPath, b.locationPath, sizeof a.locationPath) != 0) {
        return false;
    }
    for (unsigned j = 0; j < PortCountOf(a); ++j) {
        if (a.ports[j].portNumber != b.ports[j].portNumber || !SameText(a.ports[j].portName, b.ports[j].portName)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SameCards(const DeviceTable& a, const DeviceTable& b) {
    if (a.count != b.count) {
        return false;
    }
    for (std::uint32_t slot = 0; slot < a.count && slot < kMaxDevices; ++slot) {
        if (!SameCard(a.slots[slot], b.slots[slot])) {
            return false;
        }
    }
    return true;
}

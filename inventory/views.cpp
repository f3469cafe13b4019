#include "inventory/views.h"

#include <algorithm>

#include "comdb/number_usage.h"
#include "inventory/devmgr.h"
#include "resources/strings.h"
#include "services/log.h"
#include "text/bounded_text.h"

std::uint32_t EnumerateCards(DeviceTable& table, int category, int order) {
    ResetDeviceTable(table);
    std::uint32_t reported = EnumComPortDev(static_cast<std::uint32_t>(category),
                                            static_cast<std::uint8_t>(order & 0xFF), table.slots, kMaxDevices);
    return AcceptDeviceCount(table, reported);
}

const char* CdcOrVcp(const PortRecord& port) { return port.isCdc != 0 ? "CDC" : "VCP"; }

// Built in a bounded buffer and appended in as few pieces as the log allows.
void LogTreeSummary(const DeviceTable& table) {
    static LogBlock block;
    BlockBegin(block);
    unsigned portTotal = 0;
    char description[kUtf8Room<sizeof PortRecord::description>];
    for (std::uint32_t slot = 0; slot < table.count; ++slot) {
        const DeviceRecord& record = table.slots[slot];
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
    BlockAppend(block, kTextSummaryTotal, table.count, portTotal);
    BlockFlush(block);
}

void FormatCardRow(const DeviceRecord& card, unsigned slot, char* buffer, std::size_t size) {
    char label[kUtf8Room<sizeof DeviceRecord::typeLabel>];
    char name[kUtf8Room<sizeof DeviceRecord::deviceName>];
    FormatText(buffer, size, " %u#[%s]:%s", slot + 1, FieldText(card.typeLabel, label, sizeof label),
               FieldText(card.deviceName, name, sizeof name));
}

unsigned PortRowCount(const DeviceRecord& card) { return card.singlePort != 0 ? 1 : PortCountOf(card); }

void FormatPortRow(const DeviceRecord& card, unsigned row, char* buffer, std::size_t size) {
    char description[kUtf8Room<sizeof PortRecord::description>];
    const PortRecord& port = card.ports[row < kMaxPorts ? row : 0];
    FieldText(port.description, description, sizeof description);
    if (card.singlePort != 0) {
        FormatText(buffer, size, " 1/1#[%s]: %s", CdcOrVcp(port), description);
    } else {
        FormatText(buffer, size, " %u/%u# [%s]: %s", row + 1, PortCountOf(card), CdcOrVcp(port), description);
    }
}

void FormatStatusText(const DeviceRecord& card, char* buffer, std::size_t size) {
    char usbId[kUtf8Room<sizeof DeviceRecord::usbId>];
    char vendor[kUtf8Room<sizeof PortRecord::vendor>];
    char location[kUtf8Room<sizeof DeviceRecord::locationText>];
    FormatText(buffer, size, "PortCnt:%u | USBID:%s | Vendor:%s | Location(%d):%s", PortCountOf(card),
               FieldText(card.usbId, usbId, sizeof usbId), FieldText(card.ports[0].vendor, vendor, sizeof vendor),
               card.locationNumber, FieldText(card.locationText, location, sizeof location));
}

int KeptRow(int previous, int count) { return std::min(std::max(previous, 0), count - 1); }

bool StartRowOfPort(const DeviceTable& table, int card, int port, int* row) {
    // No row (-1) is outside both ranges.
    if (static_cast<std::uint32_t>(card) >= table.count ||
        static_cast<unsigned>(port) >= PortCountOf(table.slots[card])) {
        return false;
    }
    std::uint32_t number = table.slots[card].ports[port].portNumber;
    if (number == 0) {
        return false;
    }
    *row = number > kComNumberRows ? static_cast<int>(kComNumberRows) : static_cast<int>(number - 1);
    return true;
}

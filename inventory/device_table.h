// The device table: 64 adapter records that the device-manager library fills
// in one call. The byte layout is a contract with the library, so every
// offset is pinned below and holds in the 32-bit and the 64-bit build alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

constexpr inline unsigned kMaxDevices = 64;
constexpr inline unsigned kMaxPorts = 64;

struct PortRecord {
    char portName[64];
    std::uint32_t portNumber;
    std::uint8_t reserved68[12];
    char portLabel[260];
    char description[512];
    std::int32_t isCdc;
    std::uint8_t reserved856[72];
    std::uint8_t devInfo[32];
    std::uint8_t devInfoSet[8];
    char vendor[64];
};

struct DeviceRecord {
    std::uint8_t portCount;
    std::uint8_t reserved1[7];
    PortRecord ports[kMaxPorts];
    char usbId[256];
    char deviceName[388];
    std::uint32_t singlePort;
    std::uint8_t devInfo[32];
    std::uint8_t devInfoSet[8];
    std::uint8_t reserved66744[68];
    std::uint16_t locationPath[10];
    char locationText[64];
    char typeLabel[32];
    std::uint8_t locationNumber;
    std::uint8_t reserved66929[7];
};

static_assert(offsetof(PortRecord, portName) == 0);
static_assert(offsetof(PortRecord, portNumber) == 64);
static_assert(offsetof(PortRecord, reserved68) == 68);
static_assert(offsetof(PortRecord, portLabel) == 80);
static_assert(offsetof(PortRecord, description) == 340);
static_assert(offsetof(PortRecord, isCdc) == 852);
static_assert(offsetof(PortRecord, reserved856) == 856);
static_assert(offsetof(PortRecord, devInfo) == 928);
static_assert(offsetof(PortRecord, devInfoSet) == 960);
static_assert(offsetof(PortRecord, vendor) == 968);
static_assert(sizeof(PortRecord) == 1032);

static_assert(offsetof(DeviceRecord, portCount) == 0);
static_assert(offsetof(DeviceRecord, reserved1) == 1);
static_assert(offsetof(DeviceRecord, ports) == 8);
static_assert(offsetof(DeviceRecord, usbId) == 66056);
static_assert(offsetof(DeviceRecord, deviceName) == 66312);
static_assert(offsetof(DeviceRecord, singlePort) == 66700);
static_assert(offsetof(DeviceRecord, devInfo) == 66704);
static_assert(offsetof(DeviceRecord, devInfoSet) == 66736);
static_assert(offsetof(DeviceRecord, reserved66744) == 66744);
static_assert(offsetof(DeviceRecord, locationPath) == 66812);
static_assert(offsetof(DeviceRecord, locationText) == 66832);
static_assert(offsetof(DeviceRecord, typeLabel) == 66896);
static_assert(offsetof(DeviceRecord, locationNumber) == 66928);
static_assert(offsetof(DeviceRecord, reserved66929) == 66929);
static_assert(sizeof(DeviceRecord) == 66936);
static_assert(sizeof(DeviceRecord[kMaxDevices]) == 4283904);

// A table as the program holds it: the slots the library writes, then the
// count it returned. The program keeps two, each with one owner: the cards as
// last listed (what the lists show) and a run's own.
struct DeviceTable {
    DeviceRecord slots[kMaxDevices];
    std::uint32_t count;
};
static_assert(offsetof(DeviceTable, count) == 4283904);

// Zeroes the count and every slot; done right before each enumeration.
void ResetDeviceTable(DeviceTable& table);

// Stores the library's count, clamped to the capacity, and clamps every
// record's portCount to the port capacity; each clamp is logged.
std::uint32_t AcceptDeviceCount(DeviceTable& table, std::uint32_t reported);

// Whether two enumerations found the same cards: the same count, and for
// every slot the same identity (hardware id, name, location, hub path), kind
// and ports with the same names and numbers.
bool SameCards(const DeviceTable& a, const DeviceTable& b);

// The number of valid ports of a slot (portCount, never above 64).
inline unsigned PortCountOf(const DeviceRecord& record) {
    return record.portCount < kMaxPorts ? record.portCount : kMaxPorts;
}

// Room for a library text field of N bytes once converted to UTF-8 (each
// byte of the ANSI code page becomes at most three).
template <std::size_t N>
constexpr inline std::size_t kUtf8Room = 3 * N + 1;

// A library text field as a terminated UTF-8 string in buffer (bounded read).
template <std::size_t N>
inline const char* FieldText(const char (&field)[N], char* buffer, std::size_t size) {
    LibraryTextToUtf8(field, N, buffer, size);
    return buffer;
}

// The 8-byte device-information set handle, as the library takes it.
inline std::uint64_t DevInfoSetValue(const std::uint8_t (&set)[8]) {
    std::uint64_t value = 0;
    std::memcpy(&value, set, sizeof value);
    return value;
}

// The maker's device-manager library. The 64-bit build imports it from
// QELDRA64.DLL, the 32-bit build from QELDRA32.DLL, both by name at load time.
// Every function uses the system's standard calling convention (__stdcall on
// 32-bit, undecorated export names).
#pragma once

#include <cstdint>

#include "inventory/device_table.h"

#if defined(_WIN32)
#define DEVMGR_CALL __stdcall
#else
#define DEVMGR_CALL
#endif

#if defined(KESTROVA_BUILDING_DEVMGR)
#if defined(_WIN32)
#define DEVMGR_EXPORT __declspec(dllexport)
#else
#define DEVMGR_EXPORT __attribute__((visibility("default")))
#endif
#else
#define DEVMGR_EXPORT
#endif

enum DeviceCategory : std::uint32_t {
    kCategoryAll = 0,
    kCategoryUsb = 1,
    kCategoryPci = 2,
    kCategoryBleEthernet = 3,
};
enum DeviceOrder : std::uint8_t {
    kOrderByPosition = 0,
    kOrderByPortCount = 1,
};
constexpr inline std::uint32_t kDisableWaitMs = 3000;
constexpr inline std::uint32_t kEnableWaitMs = 1000;

extern "C" {
DEVMGR_EXPORT int DEVMGR_CALL InitDevManagerLib(void);
// Writes records 0 .. result-1 of table (at most capacity) and returns their number.
DEVMGR_EXPORT std::uint32_t DEVMGR_CALL EnumComPortDev(std::uint32_t category, std::uint8_t order, DeviceRecord* table,
                                                       std::uint32_t capacity);
// enable: 0 disables, 1 enables; returns when done or when timeMs has passed.
DEVMGR_EXPORT int DEVMGR_CALL ChangeDeviceStatus(std::uint64_t devInfoSet, void* devInfo, std::uint32_t enable,
                                                 std::uint32_t timeMs);
// Makes the port named by portName COM<number>; nonzero on success.
DEVMGR_EXPORT int DEVMGR_CALL ModifyCOMName(char* portName, std::uint16_t number);
DEVMGR_EXPORT int DEVMGR_CALL DeinitDevManagerLib(void);
}

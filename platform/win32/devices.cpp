// Devices: opening a port to see whether another program holds it, the COM
// port database (msports) and USB device interface notifications.
#include "platform/platform.h"

#include <dbt.h>
#include <ddk/msports.h>

#include "platform/win32/win32_internal.h"

using namespace win32;

// ---- ports ----

unsigned TryOpenPort(const char* devicePath) {
    Wide<kPathUnits> path(devicePath);
    HANDLE port = CreateFileW(path.text, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        SetLastError(error);
        return error;
    }
    CloseHandle(port);
    return 0;
}

// ---- COM port database ----

ComDbHandle InvalidComDb() { return HCOMDB_INVALID_HANDLE_VALUE; }

long ComDbOpen(ComDbHandle* handle) {
    HCOMDB database = HCOMDB_INVALID_HANDLE_VALUE;
    LONG result = ComDBOpen(&database);
    *handle = database;
    return result;
}

long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size) {
    DWORD reported = 0;
    return ComDBGetCurrentPortUsage(static_cast<HCOMDB>(handle), bits, size, CDB_REPORT_BITS, &reported);
}

long ComDbClaim(ComDbHandle handle, unsigned number) {
    return ComDBClaimPort(static_cast<HCOMDB>(handle), number, FALSE, nullptr);
}

long ComDbRelease(ComDbHandle handle, unsigned number) { return ComDBReleasePort(static_cast<HCOMDB>(handle), number); }

// ---- device notifications ----

void* RegisterUsbInterfaceNotification(Window window) {
    // The system's USB device interface class.
    constexpr GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = kUsbDeviceInterface;
    return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

void UnregisterDeviceNotificationHandle(void* handle) {
    if (handle != nullptr) {
        UnregisterDeviceNotification(handle);
    }
}

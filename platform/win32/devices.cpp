// Devices: opening a port to see whether another program holds it, the COM
// port database (msports), the serial ports the system knows and USB device
// interface notifications.
#include "platform/platform.h"

// initguid first: devguid.h then defines the class GUIDs it declares.
#include <initguid.h>
// clang-format off
#include <devguid.h>
// clang-format on
#include <cfgmgr32.h>
#include <dbt.h>
#include <ddk/msports.h>
#include <setupapi.h>

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

long ComDbGetSize(ComDbHandle handle, unsigned* numbers) {
    DWORD reported = 0;
    LONG result = ComDBGetCurrentPortUsage(static_cast<HCOMDB>(handle), nullptr, 0, CDB_REPORT_BITS, &reported);
    *numbers = result == ERROR_SUCCESS ? reported : 0;
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

// ---- serial ports the system knows ----

namespace {

// A REG_SZ value's units without its terminator (a stored string need not have one).
int TextUnits(const wchar_t* data, DWORD bytes) {
    int units = static_cast<int>(bytes / sizeof(wchar_t));
    while (units > 0 && data[units - 1] == L'\0') {
        --units;
    }
    return units;
}

}  // namespace

unsigned ReadSerialDeviceMap(SystemPort* ports, unsigned capacity) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return 0;
    }
    unsigned count = 0;
    for (DWORD index = 0; count < capacity; ++index) {
        wchar_t name[kShortUnits];
        wchar_t data[kShortUnits];
        DWORD nameUnits = kShortUnits;
        DWORD dataBytes = sizeof data;
        DWORD type = REG_NONE;
        LONG result =
            RegEnumValueW(key, index, name, &nameUnits, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataBytes);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        // A value too long for the buffers, or not text, names no port.
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        SystemPort& port = ports[count++];
        WideToUtf8(name, static_cast<int>(nameUnits), port.device, sizeof port.device);
        WideToUtf8(data, TextUnits(data, dataBytes), port.portName, sizeof port.portName);
        port.present = true;
    }
    RegCloseKey(key);
    return count;
}

unsigned ReadDosPortNames(SystemPort* ports, unsigned capacity) {
    // Every DOS device name, terminated, the list ending with an empty one.
    // (Wine lists the names its mount manager made, not the links of its
    // dosdevices folder.)
    static wchar_t names[kLongUnits * 2];
    DWORD units = QueryDosDeviceW(nullptr, names, kLongUnits * 2);
    unsigned count = 0;
    for (DWORD at = 0; at < units && names[at] != L'\0' && count < capacity;) {
        const wchar_t* name = names + at;
        at += static_cast<DWORD>(lstrlenW(name)) + 1;
        wchar_t target[kShortUnits];
        if (CompareStringOrdinal(name, 3, L"COM", 3, TRUE) != CSTR_EQUAL ||
            QueryDosDeviceW(name, target, kShortUnits) == 0) {
            continue;
        }
        SystemPort& port = ports[count++];
        WideToUtf8(name, lstrlenW(name), port.portName, sizeof port.portName);
        WideToUtf8(target, lstrlenW(target), port.device, sizeof port.device);
        port.present = true;
    }
    return count;
}

unsigned ReadPortsClassDevices(SystemPort* ports, unsigned capacity) {
    // Without DIGCF_PRESENT: the devices not there now come too.
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, 0);
    if (set == INVALID_HANDLE_VALUE) {
        return 0;
    }
    unsigned count = 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; count < capacity && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
        if (key == INVALID_HANDLE_VALUE) {
            continue;
        }
        wchar_t name[kShortUnits];
        DWORD bytes = sizeof name;
        DWORD type = REG_NONE;
        LONG result = RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &bytes);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        SystemPort& port = ports[count++];
        WideToUtf8(name, TextUnits(name, bytes), port.portName, sizeof port.portName);
        wchar_t instance[kShortUnits];
        if (!SetupDiGetDeviceInstanceIdW(set, &device, instance, kShortUnits, nullptr)) {
            instance[0] = L'\0';
        }
        WideToUtf8(instance, lstrlenW(instance), port.device, sizeof port.device);
        ULONG status = 0;
        ULONG problem = 0;
        // A device that is not there has no node in the tree now.
        port.present = CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS;
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

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

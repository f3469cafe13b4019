// The COM port number database of msports.dll, for Wine, whose own msports
// functions are stubs that end the calling program. Behaves like the Windows
// functions: the database is the REG_BINARY value "ComDB" under
// HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter, COMn is bit n-1
// (least significant bit of each byte first), and every read-modify-write of
// the value is serialised across processes by one named mutex.

#include <windows.h>

#include <ddk/msports.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr wchar_t arbiterKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr wchar_t comDbValueName[] = L"ComDB";
// In the Global\ namespace, so that every program on the machine shares it.
constexpr wchar_t comDbMutexName[] = L"Global\\ComDBMutex";

constexpr DWORD minBytes = COMDB_MIN_PORTS_ARBITRATED / 8;
constexpr DWORD maxBytes = COMDB_MAX_PORTS_ARBITRATED / 8;
// The database grows in steps of this many numbers.
constexpr DWORD resizeStep = 1024;
static_assert(COMDB_MAX_PORTS_ARBITRATED % resizeStep == 0);

// A handle is the address of one of these slots, so a stale or foreign
// handle is recognised instead of being followed.
enum SlotState : LONG { slotFree = 0, slotOpening = 1, slotOpen = 2 };

struct ComDbSlot {
    volatile LONG state;
    HKEY key;
    HANDLE mutex;
};

constexpr int maxOpenHandles = 64;
std::array<ComDbSlot, maxOpenHandles> slots{};

struct PortBitmap {
    BYTE bytes[maxBytes];
    DWORD portCount;
    // False for a value this DLL did not write and cannot write back whole: of
    // another type, or longer than maxBytes. Such a value is read, never replaced.
    bool writable;
    bool missing;
};

ComDbSlot* SlotFromHandle(HCOMDB handle) {
    auto address = reinterpret_cast<ULONG_PTR>(handle);
    auto first = reinterpret_cast<ULONG_PTR>(slots.data());
    if (address < first || address >= first + sizeof slots)
        return nullptr;
    if ((address - first) % sizeof(ComDbSlot) != 0)
        return nullptr;
    ComDbSlot* slot = reinterpret_cast<ComDbSlot*>(handle);
    return slot->state == slotOpen ? slot : nullptr;
}

// Holds the database mutex for one read-modify-write.
struct DatabaseLock {
    explicit DatabaseLock(HANDLE mutexHandle) : mutex(mutexHandle) {
        DWORD wait = WaitForSingleObject(mutex, INFINITE);
        // An abandoned mutex is ours all the same; every write is a whole value.
        held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        result = held ? ERROR_SUCCESS : static_cast<LONG>(GetLastError());
    }
    ~DatabaseLock() {
        if (held)
            ReleaseMutex(mutex);
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

    HANDLE mutex;
    bool held;
    LONG result;
};

[[gnu::format(gnu_printf, 1, 2)]] void Report(const char* format, ...) {
    char line[512] = "msports stand-in: ";
    const size_t used = std::strlen(line);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, sizeof line - used - 1, format, args);
    va_end(args);
    std::strcat(line, "\n");
    OutputDebugStringA(line);
}

LONG StoreBitmap(HKEY key, const PortBitmap& map) {
    return RegSetValueExW(key, comDbValueName, 0, REG_BINARY, map.bytes, map.portCount / 8);
}

// Reads the value: a missing one, or a binary one shorter than 256 numbers,
// reads as free numbers up to 256; a longer binary one keeps its first
// COMDB_MAX_PORTS_ARBITRATED numbers; one of another type holds no bitmap and
// reads as all free. Nothing is written here.
LONG LoadBitmap(HKEY key, PortBitmap& map, DWORD& type, DWORD& size) {
    std::memset(map.bytes, 0, sizeof map.bytes);
    map.portCount = COMDB_MIN_PORTS_ARBITRATED;
    map.writable = true;
    map.missing = false;
    type = REG_NONE;
    size = sizeof map.bytes;
    LONG result = RegQueryValueExW(key, comDbValueName, nullptr, &type, map.bytes, &size);
    if (result == ERROR_FILE_NOT_FOUND) {
        map.missing = true;
        return ERROR_SUCCESS;
    }
    if (result == ERROR_MORE_DATA && type == REG_BINARY) {
        // The buffer's contents are undefined now: read the whole value again.
        DWORD fullSize = size;
        std::vector<BYTE> whole(fullSize);
        result = RegQueryValueExW(key, comDbValueName, nullptr, &type, whole.data(), &fullSize);
        if (result == ERROR_SUCCESS)
            std::memcpy(map.bytes, whole.data(), sizeof map.bytes);
        size = fullSize;
    }
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA)
        return result;
    if (type != REG_BINARY) {
        std::memset(map.bytes, 0, sizeof map.bytes);
        map.writable = false;
    } else if (size > maxBytes) {
        map.portCount = COMDB_MAX_PORTS_ARBITRATED;
        map.writable = false;
    } else if (size > minBytes) {
        map.portCount = size * 8;
    }
    return ERROR_SUCCESS;
}

LONG LoadBitmap(HKEY key, PortBitmap& map) {
    DWORD type = 0;
    DWORD size = 0;
    return LoadBitmap(key, map, type, size);
}

bool IsClaimed(const PortBitmap& map, DWORD port) { return (map.bytes[(port - 1) / 8] >> ((port - 1) % 8)) & 1; }

void SetClaimed(PortBitmap& map, DWORD port, bool claimed) {
    BYTE mask = static_cast<BYTE>(1u << ((port - 1) % 8));
    if (claimed) {
        map.bytes[(port - 1) / 8] |= mask;
    } else {
        map.bytes[(port - 1) / 8] &= static_cast<BYTE>(~mask);
    }
}

void CloseSlot(ComDbSlot& slot) {
    if (slot.key)
        RegCloseKey(slot.key);
    if (slot.mutex)
        CloseHandle(slot.mutex);
    slot.key = nullptr;
    slot.mutex = nullptr;
    InterlockedExchange(&slot.state, slotFree);
}

}  // namespace

extern "C" {

LONG WINAPI ComDBOpen(PHCOMDB phComDB) {
    if (!phComDB)
        return ERROR_INVALID_PARAMETER;
    *phComDB = HCOMDB_INVALID_HANDLE_VALUE;

    ComDbSlot* slot = nullptr;
    for (ComDbSlot& candidate : slots) {
        if (InterlockedCompareExchange(&candidate.state, slotOpening, slotFree) == slotFree) {
            slot = &candidate;
            break;
        }
    }
    if (!slot)
        return ERROR_NOT_ENOUGH_MEMORY;

    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, arbiterKeyPath, 0, nullptr, 0,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &slot->key, nullptr);
    if (result != ERROR_SUCCESS) {
        slot->key = nullptr;
        CloseSlot(*slot);
        return result;
    }
    slot->mutex = CreateMutexW(nullptr, FALSE, comDbMutexName);
    if (!slot->mutex) {
        result = static_cast<LONG>(GetLastError());
        CloseSlot(*slot);
        return result;
    }
    {
        // Only a missing value is created; any other is left as it is.
        DatabaseLock lock(slot->mutex);
        result = lock.result;
        PortBitmap map;
        DWORD type = 0;
        DWORD size = 0;
        if (result == ERROR_SUCCESS)
            result = LoadBitmap(slot->key, map, type, size);
        if (result == ERROR_SUCCESS && map.missing)
            result = StoreBitmap(slot->key, map);
        if (result == ERROR_SUCCESS && !map.writable) {
            Report(
                "ComDB has type %lu and %lu bytes, not REG_BINARY of at most %lu bytes; read as %s, "
                "never rewritten",
                type, size, maxBytes, type == REG_BINARY ? "its first 4096 numbers" : "all numbers free");
        }
    }
    if (result != ERROR_SUCCESS) {
        CloseSlot(*slot);
        return result;
    }
    InterlockedExchange(&slot->state, slotOpen);
    *phComDB = reinterpret_cast<HCOMDB>(slot);
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBClose(HCOMDB hComDB) {
    ComDbSlot* slot = SlotFromHandle(hComDB);
    if (!slot)
        return ERROR_INVALID_PARAMETER;
    if (InterlockedCompareExchange(&slot->state, slotOpening, slotOpen) != slotOpen) {
        return ERROR_INVALID_PARAMETER;
    }
    CloseSlot(*slot);
    return ERROR_SUCCESS;
}

LONG WINAPI ComDBGetCurrentPortUsage(HCOMDB hComDB, PBYTE Buffer, DWORD BufferSize, DWORD ReportType,
                                     LPDWORD MaxPortsReported) {
    ComDbSlot* slot = SlotFromHandle(hComDB);
    if (!slot)
        return ERROR_INVALID_PARAMETER;
    if (ReportType != CDB_REPORT_BITS && ReportType != CDB_REPORT_BYTES)
        return ERROR_INVALID_PARAMETER;
    // With no buffer the call only asks for the size of the database.
    if (!Buffer && !MaxPortsReported)
        return ERROR_INVALID_PARAMETER;

    PortBitmap map;
    {
        DatabaseLock lock(slot->mutex);
        if (lock.result != ERROR_SUCCESS)
            return lock.result;
        LONG result = LoadBitmap(slot->key, map);
        if (result != ERROR_SUCCESS)
            return result;
    }

    if (!Buffer) {
        *MaxPortsReported = map.portCount;
        return ERROR_SUCCESS;
    }
    // The report covers as many numbers as fit; the rest of the buffer reads
    // as free.
    std::memset(Buffer, 0, BufferSize);
    if (ReportType == CDB_REPORT_BITS) {
        DWORD count = BufferSize < map.portCount / 8 ? BufferSize : map.portCount / 8;
        std::memcpy(Buffer, map.bytes, count);
        if (MaxPortsReported)
            *MaxPortsReported = map.portCount;
    } else {
        DWORD count = BufferSize < map.portCount ? BufferSize : map.portCount;
        for (DWORD i = 0; i < count; ++i)
            Buffer[i] = IsClaimed(map, i + 1) ? 1 : 0;
    }
    return ERROR_SUCCESS;
}

// Claims and releases change the value; one that cannot be written back whole
// is left alone and the call fails.
LONG RefuseForeignValue(const PortBitmap& map, const char* call, DWORD number) {
    if (map.writable)
        return ERROR_SUCCESS;
    Report("%s(%lu): ComDB is not a bitmap this DLL can write; left as it is", call, number);
    return ERROR_INVALID_DATA;
}

LONG WINAPI ComDBClaimPort(HCOMDB hComDB, DWORD ComNumber, BOOL ForceClaim, PBOOL Forced) {
    ComDbSlot* slot = SlotFromHandle(hComDB);
    if (!slot)
        return ERROR_INVALID_PARAMETER;
    if (Forced)
        *Forced = FALSE;
    if (ComNumber < 1 || ComNumber > COMDB_MAX_PORTS_ARBITRATED)
        return ERROR_INVALID_PARAMETER;

    DatabaseLock lock(slot->mutex);
    if (lock.result != ERROR_SUCCESS)
        return lock.result;
    PortBitmap map;
    LONG result = LoadBitmap(slot->key, map);
    if (result != ERROR_SUCCESS)
        return result;

    if (IsClaimed(map, ComNumber)) {
        if (!ForceClaim)
            return ERROR_SHARING_VIOLATION;
        if (Forced)
            *Forced = TRUE;
        return ERROR_SUCCESS;
    }
    result = RefuseForeignValue(map, "ComDBClaimPort", ComNumber);
    if (result != ERROR_SUCCESS)
        return result;
    // A number past the end grows the database in its steps; the bytes past
    // the old end are already zero, free.
    if (ComNumber > map.portCount)
        map.portCount = (ComNumber + resizeStep - 1) / resizeStep * resizeStep;
    SetClaimed(map, ComNumber, true);
    return StoreBitmap(slot->key, map);
}

LONG WINAPI ComDBReleasePort(HCOMDB hComDB, DWORD ComNumber) {
    ComDbSlot* slot = SlotFromHandle(hComDB);
    if (!slot)
        return ERROR_INVALID_PARAMETER;
    if (ComNumber < 1 || ComNumber > COMDB_MAX_PORTS_ARBITRATED)
        return ERROR_INVALID_PARAMETER;

    DatabaseLock lock(slot->mutex);
    if (lock.result != ERROR_SUCCESS)
        return lock.result;
    PortBitmap map;
    LONG result = LoadBitmap(slot->key, map);
    if (result != ERROR_SUCCESS)
        return result;

    if (!IsClaimed(map, ComNumber))
        return ERROR_SUCCESS;
    result = RefuseForeignValue(map, "ComDBReleasePort", ComNumber);
    if (result != ERROR_SUCCESS)
        return result;
    SetClaimed(map, ComNumber, false);
    return StoreBitmap(slot->key, map);
}

// Grows the database to newSize numbers, a multiple of 1024 above its size
// and at most 4096; the new numbers are free.
LONG WINAPI ComDBResizeDatabase(HCOMDB hComDB, DWORD NewSize) {
    ComDbSlot* slot = SlotFromHandle(hComDB);
    if (!slot || NewSize % resizeStep != 0)
        return ERROR_INVALID_PARAMETER;

    DatabaseLock lock(slot->mutex);
    if (lock.result != ERROR_SUCCESS)
        return lock.result;
    PortBitmap map;
    LONG result = LoadBitmap(slot->key, map);
    if (result != ERROR_SUCCESS)
        return result;
    if (NewSize <= map.portCount || NewSize > COMDB_MAX_PORTS_ARBITRATED)
        return ERROR_BAD_LENGTH;
    result = RefuseForeignValue(map, "ComDBResizeDatabase", NewSize);
    if (result != ERROR_SUCCESS)
        return result;
    map.portCount = NewSize;
    return StoreBitmap(slot->key, map) == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

}  // extern "C"

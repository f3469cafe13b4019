// Devices: the scripted results of opening ports, the COM port database, the
// serial ports the system knows and USB device interface notifications.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/model/model_state.h"

using namespace model;

namespace {

char comDbToken;
char usbToken;

ComDbHandle ValidComDb() { return &comDbToken; }

bool IsComNumber(unsigned number) { return number >= 1 && number <= kModelComDbNumbers; }

// Another program changes a number between two writes of this one.
void RunComDbRivalLocked(unsigned number) {
    if (number == S().comDbRivalTrigger && IsComNumber(S().comDbRivalNumber)) {
        S().comDb[(S().comDbRivalNumber - 1) / 8] ^= static_cast<std::uint8_t>(1u << ((S().comDbRivalNumber - 1) % 8));
        S().comDbRivalTrigger = 0;
    }
}

// A claim past the database's end grows it, as Windows does.
void GrowComDbLocked(unsigned number) {
    while (S().comDbNumbers < number) {
        S().comDbNumbers = S().comDbNumbers < 1024 ? 1024 : S().comDbNumbers + 1024;
    }
}

unsigned CopyPorts(const std::vector<SystemPort>& from, SystemPort* ports, unsigned capacity) {
    std::lock_guard lock(Lock());
    unsigned count = 0;
    for (const SystemPort& port : from) {
        if (count == capacity) {
            break;
        }
        ports[count++] = port;
    }
    return count;
}

SystemPort MakePort(const char* device, const char* portName, bool present) {
    SystemPort port{};
    std::snprintf(port.device, sizeof port.device, "%s", device != nullptr ? device : "");
    std::snprintf(port.portName, sizeof port.portName, "%s", portName != nullptr ? portName : "");
    port.present = present;
    return port;
}

}  // namespace

// ---- ports ----

unsigned TryOpenPort(const char* devicePath) {
    std::string path = devicePath != nullptr ? devicePath : "";
    unsigned result = kErrorFileNotFound;
    {
        std::lock_guard lock(Lock());
        S().openedPorts.push_back(path);
        auto found = S().portResults.find(Lowercase(path));
        if (found != S().portResults.end()) {
            result = found->second;
        }
    }
    if (result != 0) {
        lastError = result;
    }
    return result;
}

// ---- COM port database ----
// A bitmap of 4096 numbers, COMn at bit n-1, low bit of each byte first.

ComDbHandle InvalidComDb() { return reinterpret_cast<ComDbHandle>(static_cast<intptr_t>(-1)); }

long ComDbOpen(ComDbHandle* handle) {
    std::lock_guard lock(Lock());
    ++S().comDbOpens;
    long failure = S().comDbOpenFailure;
    if (handle != nullptr) {
        *handle = failure != 0 ? InvalidComDb() : ValidComDb();
    }
    return failure;
}

long ComDbGetSize(ComDbHandle handle, unsigned* numbers) {
    if (handle != ValidComDb() || numbers == nullptr) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    *numbers = S().comDbNumbers;
    return 0;
}

long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size) {
    if (handle != ValidComDb() || bits == nullptr) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    std::size_t copied = std::min<std::size_t>(size, S().comDbNumbers / 8);
    std::memcpy(bits, S().comDb.data(), copied);
    std::memset(bits + copied, 0, size - copied);
    return 0;
}

long ComDbClaim(ComDbHandle handle, unsigned number) {
    if (handle != ValidComDb() || !IsComNumber(number)) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    if (S().comDbWriteFailure != 0) {
        return S().comDbWriteFailure;
    }
    RunComDbRivalLocked(number);
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    if ((byte & bit) != 0) {
        return kErrorSharingViolation;
    }
    GrowComDbLocked(number);
    byte = static_cast<std::uint8_t>(byte | bit);
    return 0;
}

long ComDbRelease(ComDbHandle handle, unsigned number) {
    if (handle != ValidComDb() || !IsComNumber(number)) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    if (S().comDbWriteFailure != 0) {
        return S().comDbWriteFailure;
    }
    RunComDbRivalLocked(number);
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    byte = static_cast<std::uint8_t>(byte & ~(1u << ((number - 1) % 8)));
    return 0;
}

// ---- serial ports the system knows ----

unsigned ReadSerialDeviceMap(SystemPort* ports, unsigned capacity) { return CopyPorts(S().serialMap, ports, capacity); }

unsigned ReadDosPortNames(SystemPort* ports, unsigned capacity) { return CopyPorts(S().dosPorts, ports, capacity); }

unsigned ReadPortsClassDevices(SystemPort* ports, unsigned capacity) {
    return CopyPorts(S().portsClass, ports, capacity);
}

// ---- device notifications ----

void* RegisterUsbInterfaceNotification(Window window) {
    std::lock_guard lock(Lock());
    ++S().usbRegistrations;
    S().usbWindow = window;
    return &usbToken;
}

void UnregisterDeviceNotificationHandle(void* handle) {
    if (handle == nullptr) {
        return;
    }
    std::lock_guard lock(Lock());
    ++S().usbUnregistrations;
}

// ---- model hooks ----

void ModelSetPortResult(const char* devicePath, unsigned error) {
    std::lock_guard lock(Lock());
    S().portResults[Lowercase(devicePath != nullptr ? devicePath : "")] = error;
}

std::vector<std::string> ModelOpenedPorts() {
    std::lock_guard lock(Lock());
    return S().openedPorts;
}

void ModelComDbSetClaimed(unsigned number, bool claimed) {
    if (!IsComNumber(number)) {
        return;
    }
    std::lock_guard lock(Lock());
    if (claimed) {
        GrowComDbLocked(number);
    }
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    byte = static_cast<std::uint8_t>(claimed ? (byte | bit) : (byte & ~bit));
}

void ModelComDbSetSize(unsigned numbers) {
    std::lock_guard lock(Lock());
    S().comDbNumbers = numbers;
}

unsigned ModelComDbSize() {
    std::lock_guard lock(Lock());
    return S().comDbNumbers;
}

bool ModelComDbIsClaimed(unsigned number) {
    if (!IsComNumber(number)) {
        return false;
    }
    std::lock_guard lock(Lock());
    return (S().comDb[(number - 1) / 8] & (1u << ((number - 1) % 8))) != 0;
}

void ModelAddSerialMapValue(const char* device, const char* portName) {
    std::lock_guard lock(Lock());
    S().serialMap.push_back(MakePort(device, portName, true));
}

void ModelAddDosPortName(const char* name, const char* target) {
    std::lock_guard lock(Lock());
    S().dosPorts.push_back(MakePort(target, name, true));
}

void ModelAddPortsClassDevice(const char* instance, const char* portName, bool present) {
    std::lock_guard lock(Lock());
    S().portsClass.push_back(MakePort(instance, portName, present));
}

void ModelComDbFailOpen(long result) {
    std::lock_guard lock(Lock());
    S().comDbOpenFailure = result;
}

void ModelComDbFailWrites(long result) {
    std::lock_guard lock(Lock());
    S().comDbWriteFailure = result;
}

void ModelComDbRival(unsigned trigger, unsigned number) {
    std::lock_guard lock(Lock());
    S().comDbRivalTrigger = trigger;
    S().comDbRivalNumber = number;
}

int ModelComDbOpenCount() {
    std::lock_guard lock(Lock());
    return S().comDbOpens;
}

int ModelUsbRegistrations() {
    std::lock_guard lock(Lock());
    return S().usbRegistrations;
}

int ModelUsbUnregistrations() {
    std::lock_guard lock(Lock());
    return S().usbUnregistrations;
}

Window ModelUsbRegisteredWindow() {
    std::lock_guard lock(Lock());
    return S().usbWindow;
}

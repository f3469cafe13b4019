// Devices: the scripted results of opening ports, the COM port database and
// USB device interface notifications.
#include <algorithm>
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

long ComDbGetUsageBits(ComDbHandle handle, std::uint8_t* bits, unsigned size) {
    if (handle != ValidComDb() || bits == nullptr) {
        return kErrorInvalidParameter;
    }
    std::lock_guard lock(Lock());
    std::size_t copied = std::min<std::size_t>(size, kComDbBytes);
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
    std::uint8_t& byte = S().comDb[(number - 1) / 8];
    auto bit = static_cast<std::uint8_t>(1u << ((number - 1) % 8));
    byte = static_cast<std::uint8_t>(claimed ? (byte | bit) : (byte & ~bit));
}

bool ModelComDbIsClaimed(unsigned number) {
    if (!IsComNumber(number)) {
        return false;
    }
    std::lock_guard lock(Lock());
    return (S().comDb[(number - 1) / 8] & (1u << ((number - 1) % 8))) != 0;
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

#include "comdb/number_usage.h"

#include <cstdio>

#include "resources/ids.h"
#include "services/log.h"
#include "services/messages.h"

std::atomic<ComDbHandle> comDb{InvalidComDb()};

namespace {
constexpr std::size_t kStringSize = 512;
constexpr unsigned kFirstDefault = 3;  // COM1 and COM2 belong to the system
}  // namespace

bool EnsureComDbOpen() {
    if (comDb.load() != InvalidComDb()) {
        return true;
    }
    ComDbHandle handle = InvalidComDb();
    if (ComDbOpen(&handle) != 0 || handle == InvalidComDb()) {
        return false;
    }
    comDb.store(handle);
    return true;
}

void ReopenComDb() {
    ComDbHandle handle = InvalidComDb();
    long result = ComDbOpen(&handle);
    comDb.store(result == 0 ? handle : InvalidComDb());
    if (result != 0) {
        // The database returns its error instead of setting the thread's.
        SetLastErrorCode(static_cast<unsigned>(result));
        LogLastError("DBOpen");
    }
}

void ReadPortUsage(PortUsageBits& bits) {
    bits.fill(0);
    ComDbHandle handle = comDb.load();
    unsigned numbers = 0;
    if (ComDbGetSize(handle, &numbers) != 0 || numbers < kComNumberRows) {
        numbers = kComNumberRows;
    }
    numbers = numbers < kMaxComDbNumbers ? numbers : kMaxComDbNumbers;
    ComDbGetUsageBits(handle, bits.data(), numbers / 8);
}

bool IsNumberClaimed(const PortUsageBits& bits, unsigned number) {
    if (number == 0 || number > kMaxComDbNumbers) {
        return false;
    }
    unsigned bit = number - 1;
    return (bits[bit / 8] >> (bit % 8) & 1u) != 0;
}

void FormatNumberRow(char* buffer, std::size_t size, unsigned number, bool claimed) {
    std::snprintf(buffer, size, claimed ? "COM%u In use" : "COM%u", number);
}

int DefaultStartRow(const PortUsageBits& bits, int selection, bool advance) {
    if (selection != kNoRow && !advance) {
        return selection;
    }
    for (unsigned n = kFirstDefault; n <= kComNumberRows; ++n) {
        if (!IsNumberClaimed(bits, n)) {
            return static_cast<int>(n - 1);
        }
    }
    return selection;
}

int IsPortNumberClaimed(std::uint16_t number) {
    PortUsageBits bits;
    ReadPortUsage(bits);
    bool claimed = IsNumberClaimed(bits, number);
    if (claimed) {
        char value[8];
        std::snprintf(value, sizeof value, "%u", static_cast<unsigned>(number));
        char text[kStringSize];
        FormatTableText(IDS_NUMBER_CLAIMED, value, text, sizeof text);
        LogMessage("  %s", text);
    }
    return claimed ? 1 : 0;
}

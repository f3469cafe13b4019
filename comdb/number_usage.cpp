#include "comdb/number_usage.h"

#include <cstdio>

#include "resources/ids.h"
#include "services/log.h"
#include "services/messages.h"
#include "services/state.h"

std::atomic<ComDbHandle> comDb{InvalidComDb()};

namespace {
constexpr std::size_t kRowSize = 32;
constexpr std::size_t kStringSize = 512;
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

void ReadPortUsage(PortUsageBits& bits) {
    bits.fill(0);
    ComDbGetUsageBits(comDb.load(), bits.data(), static_cast<unsigned>(bits.size()));
}

bool IsNumberClaimed(const PortUsageBits& bits, unsigned number) {
    if (number == 0 || number > kComNumberRows) {
        return false;
    }
    unsigned bit = number - 1;
    return (bits[bit / 8] >> (bit % 8) & 1u) != 0;
}

void FormatNumberRow(char* buffer, std::size_t size, unsigned number, bool claimed) {
    std::snprintf(buffer, size, claimed ? "COM%u In use" : "COM%u", number);
}

void FillStartNumbers(bool advance) {
    if (!EnsureComDbOpen()) {
        return;
    }
    int selection = ComboGetSelection(mainDialog, IDC_START_NUMBER);
    ComboEmpty(mainDialog, IDC_START_NUMBER);
    PortUsageBits bits;
    ReadPortUsage(bits);
    char row[kRowSize];
    for (unsigned n = 1; n <= kComNumberRows; ++n) {
        bool claimed = IsNumberClaimed(bits, n);
        FormatNumberRow(row, sizeof row, n, claimed);
        ComboAddRow(mainDialog, IDC_START_NUMBER, row);
        if (!claimed && n > 2 && (selection == kNoRow || advance)) {
            selection = static_cast<int>(n - 1);
            advance = false;
        }
    }
    ComboSelectRow(mainDialog, IDC_START_NUMBER, selection);
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

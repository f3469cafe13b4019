// The COM number lists, the default start number and the claimed-number test.
#include "comdb/number_usage.h"

#include "program_fixture.h"
#include "services/log.h"

namespace {

using NumberUsageTest = ProgramTest;

void Claim(std::initializer_list<unsigned> numbers) {
    for (unsigned n : numbers) {
        ModelComDbSetClaimed(n, true);
    }
}

TEST_F(NumberUsageTest, FirstFreeNumberFromCom3BecomesTheStartNumber) {
    Claim({1, 2, 3, 4});
    LoadCards({});
    OpenMain();
    ASSERT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 256);
    struct {
        int row;
        const char* text;
    } rows[] = {{0, "COM1 In use"}, {3, "COM4 In use"}, {4, "COM5"}, {255, "COM256"}};
    for (const auto& r : rows) {
        std::string text;
        ModelComboRow(dialog, IDC_START_NUMBER, r.row, &text);
        EXPECT_EQ(text, r.text);
    }
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 4);
}

TEST_F(NumberUsageTest, Com1IsNeverTheDefault) {
    for (unsigned n = 2; n <= 256; ++n) ModelComDbSetClaimed(n, true);
    LoadCards({});
    OpenMain();
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), -1);
}

TEST_F(NumberUsageTest, FocusKeepsTheUsersRowAndAdvanceMovesToTheFirstFree) {
    Claim({3});
    LoadCards({});
    OpenMain();
    SelectStart(10);
    ModelComDbSetClaimed(10, true);
    SetControlFocus(dialog, IDC_ADAPTER_LIST);
    SetControlFocus(dialog, IDC_START_NUMBER);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 9);
    std::string row;
    ModelComboRow(dialog, IDC_START_NUMBER, 9, &row);
    EXPECT_EQ(row, "COM10 In use") << "focus refreshes the In use marks";

    FillStartNumbers(true);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 3);  // COM4
}

TEST_F(NumberUsageTest, BitPositions) {
    PortUsageBits bits{};
    bits[0] = 0x80;
    bits[1] = 0x01;
    bits[31] = 0x80;
    EXPECT_TRUE(IsNumberClaimed(bits, 8));
    EXPECT_TRUE(IsNumberClaimed(bits, 9));
    EXPECT_TRUE(IsNumberClaimed(bits, 256));
    EXPECT_FALSE(IsNumberClaimed(bits, 7));
    EXPECT_FALSE(IsNumberClaimed(bits, 10));
    EXPECT_FALSE(IsNumberClaimed(bits, 255));
    EXPECT_FALSE(IsNumberClaimed(bits, 0));
    EXPECT_FALSE(IsNumberClaimed(bits, 257)) << "no bit beyond the 32-byte bitmap";

    Claim({8, 9, 256});
    ASSERT_TRUE(EnsureComDbOpen());
    PortUsageBits read;
    ReadPortUsage(read);
    EXPECT_EQ(read[0], 0x80);
    EXPECT_EQ(read[1], 0x01);
    EXPECT_EQ(read[31], 0x80);
}

TEST_F(NumberUsageTest, ClaimedTestLogsTheWarningTextOnlyForClaimedNumbers) {
    LoadCards({});
    OpenMain();
    Claim({5, 256});
    std::string before = Log();
    EXPECT_EQ(IsPortNumberClaimed(5), 1);
    EXPECT_EQ(IsPortNumberClaimed(6), 0);
    EXPECT_EQ(IsPortNumberClaimed(256), 1);
    EXPECT_EQ(IsPortNumberClaimed(257), 0);
    EXPECT_EQ(IsPortNumberClaimed(65535), 0);
    std::string added = Log().substr(before.size());
    EXPECT_TRUE(Contains(added, ">>   当前串口号(COM5)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?\r\n"));
    EXPECT_TRUE(Contains(added, "(COM256)"));
    EXPECT_FALSE(Contains(added, "(COM6)"));
    EXPECT_FALSE(Contains(added, "(COM257)"));
}

TEST_F(NumberUsageTest, UnopenableDatabaseLeavesTheListAloneAndIsTheProgramsFirstLogLine) {
    lineCounter.store(0);
    ModelComDbFailOpen(5);
    LoadCards({});
    OpenMain();
    EXPECT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 0);
    EXPECT_EQ(Log().rfind("0000#14:03:59:082>> DBOpen:Last Err(5)Access is denied.\r\n", 0), 0u) << Log();

    ModelComDbFailOpen(0);
    SetControlFocus(dialog, IDC_ADAPTER_LIST);
    SetControlFocus(dialog, IDC_START_NUMBER);
    EXPECT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 256) << "the next fill opens it";
}

TEST_F(NumberUsageTest, FailedBitmapReadShowsEveryNumberFree) {
    Claim({3, 4});
    PortUsageBits bits;
    bits.fill(0xFF);
    comDb.store(InvalidComDb());  // a read with no database fails
    ReadPortUsage(bits);
    for (unsigned n = 1; n <= 256; ++n) {
        ASSERT_FALSE(IsNumberClaimed(bits, n)) << n;
    }
}

}  // namespace

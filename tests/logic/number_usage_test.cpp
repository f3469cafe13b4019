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
    OpenMain({});
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
    for (unsigned n = 2; n <= 256; ++n)
        ModelComDbSetClaimed(n, true);
    OpenMain({});
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), -1);
}

TEST_F(NumberUsageTest, FocusKeepsTheUsersRowAndAdvanceMovesToTheFirstFree) {
    Claim({3});
    OpenMain({});
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

TEST_F(NumberUsageTest, BitPositionsAndTheClaimedTestWithItsLogLine) {
    OpenMain({});
    Claim({8, 9, 256});
    PortUsageBits bits;
    ReadPortUsage(bits);
    EXPECT_EQ(bits[0], 0x80);
    EXPECT_EQ(bits[1], 0x01);
    EXPECT_EQ(bits[31], 0x80);
    std::string before = Log();
    for (unsigned n : {0u, 7u, 8u, 9u, 10u, 255u, 256u, 257u, 65535u}) {
        bool claimed = n == 8 || n == 9 || n == 256;  // nothing beyond the 32-byte bitmap
        EXPECT_EQ(IsNumberClaimed(bits, n), claimed) << n;
        EXPECT_EQ(IsPortNumberClaimed(static_cast<std::uint16_t>(n)), claimed ? 1 : 0) << n;
    }
    std::string added = Log().substr(before.size());
    EXPECT_TRUE(
        Contains(added, ">>   当前串口号(COM8)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?\r\n"));
    EXPECT_TRUE(Contains(added, "(COM9)") && Contains(added, "(COM256)"));
    int lines = 0;
    for (std::size_t at = added.find("当前串口号"); at != std::string::npos; at = added.find("当前串口号", at + 1))
        ++lines;
    EXPECT_EQ(lines, 3) << "only claimed numbers are logged";
}

TEST_F(NumberUsageTest, UnopenableDatabaseLeavesTheListAloneAndIsTheProgramsFirstLogLine) {
    lineCounter.store(0);
    ModelComDbFailOpen(5);
    OpenMain({});
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

// Enumeration, the adapter and port views, the tree summary and the start
// number following the selected port.
#include "inventory/views.h"

#include <cstring>

#include "program_fixture.h"

namespace {

using ViewsTest = ProgramTest;

TEST_F(ViewsTest, EnumerationKeepsTheSelectedRowOrFallsBackToTheLast) {
    OpenMain({{.ports = 2}, {.ports = 2, .firstNumber = 5}, {.ports = 2, .firstNumber = 7}});
    SelectCard(1);

    ClickButton(dialog, IDC_ENUMERATE);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 3);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), 1);

    ASSERT_TRUE(SimLoadDescription(CardsJson({{.ports = 2}}).c_str()));
    ClickButton(dialog, IDC_ENUMERATE);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 1);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), 0);

    ASSERT_TRUE(SimLoadDescription(R"({"cards": []})"));
    ClickButton(dialog, IDC_ENUMERATE);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 0);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), -1);
    EXPECT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 0);
    EXPECT_EQ(Status(), "无串口卡");
    EXPECT_TRUE(Contains(Log(), "\r\n***已查找到0个多串卡,共0个串口.\r\n"));
}

TEST_F(ViewsTest, RowsStatusAndTreeSummaryUseTheRecordTexts) {
    OpenMain({{.ports = 4, .firstNumber = 3}, {.ports = 1, .firstNumber = 9, .singlePort = true}});

    EXPECT_EQ(ListRow(IDC_ADAPTER_LIST, 0), " 1#[T4]:Test card 1");
    EXPECT_EQ(ListRow(IDC_ADAPTER_LIST, 1), " 2#[T1]:Test card 2");
    ASSERT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 4);
    EXPECT_EQ(ListRow(IDC_PORT_LIST, 0), " 1/4# [CDC]: Port 1-1");
    EXPECT_EQ(ListRow(IDC_PORT_LIST, 1), " 2/4# [VCP]: Port 1-2");
    EXPECT_EQ(Status(), "PortCnt:4 | USBID:USB\\VID_1234&PID_0001 | Vendor:Vendor1 | Location(1):Hub_1");

    std::string log = Log();
    EXPECT_TRUE(Contains(log,
                         "\r\n|--1#[4P][Test card 1][USB\\VID_1234&PID_0001]"
                         "\r\n   |--P1:[CDC]Port 1-1\r\n   |--P2:[VCP]Port 1-2"
                         "\r\n   |--P3:[CDC]Port 1-3\r\n   |--P4:[VCP]Port 1-4"
                         "\r\n|--2#[CDC][L1]Port 2-1"
                         "\r\n***已查找到2个多串卡,共5个串口.\r\n"))
        << log;
}

TEST_F(ViewsTest, SummaryOfAFullTableIsExactlyItsLinesInOrder) {
    // 64 cards of 64 ports: far more than one append of the log may carry.
    nlohmann::json cards = nlohmann::json::array();
    std::string expected;
    for (int d = 0; d < 64; ++d) {
        char head[128];
        std::snprintf(head, sizeof head, "\r\n|--%d#[64P][Card %d][USB\\ID_%d]", d + 1, d, d);
        expected += head;
        nlohmann::json ports = nlohmann::json::array();
        for (int j = 0; j < 64; ++j) {
            std::string description = "串口 " + std::to_string(d) + "-" + std::to_string(j) + std::string(j % 7, '~');
            ports.push_back(
                {{"name", "COM" + std::to_string(d * 64 + j + 3)}, {"cdc", j % 2 == 1}, {"description", description}});
            expected += "\r\n   |--P" + std::to_string(j + 1) + (j % 2 ? ":[CDC]" : ":[VCP]") + description;
        }
        cards.push_back({{"category", "usb"},
                         {"name", "Card " + std::to_string(d)},
                         {"usbId", "USB\\ID_" + std::to_string(d)},
                         {"ports", ports}});
    }
    expected += "\r\n***已查找到64个多串卡,共4096个串口.\r\n";
    LoadJson({{"cards", cards}});
    OpenMain();
    EXPECT_EQ(Log(), expected) << "at start, in pieces";
    EditSetText(dialog, IDC_LOG, "");
    ClickButton(dialog, IDC_ENUMERATE);
    ASSERT_GT(expected.size(), 100000u);
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 64);
    EXPECT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 64);
}

TEST_F(ViewsTest, PortSelectionIsClampedAgainstThePortCountAlsoForASinglePortCard) {
    LoadCards({{.ports = 4, .firstNumber = 3},
               {.ports = 3, .firstNumber = 20, .singlePort = true},
               {.ports = 3, .firstNumber = 30}});
    OpenMain();
    SelectPort(3);
    SelectCard(2);
    EXPECT_EQ(ListGetSelection(dialog, IDC_PORT_LIST), 2) << "beyond the new card's ports: its last row";
    SelectPort(1);
    ClickButton(dialog, IDC_ENUMERATE);
    EXPECT_EQ(ListGetSelection(dialog, IDC_PORT_LIST), 1) << "a row the card still has is kept";

    SelectCard(0);
    SelectPort(2);
    SelectStart(12);
    SelectCard(1);
    ASSERT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 1);
    EXPECT_EQ(ListRow(IDC_PORT_LIST, 0), " 1/1#[CDC]: Port 2-1");
    // Row 2 is kept because 2 + 1 < portCount 3, but the list has one row.
    EXPECT_EQ(ListGetSelection(dialog, IDC_PORT_LIST), -1);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 11) << "the start number must not move";
    EXPECT_TRUE(Contains(Status(), "PortCnt:3 |"));
}

TEST_F(ViewsTest, StartNumberFollowsTheSelectedPortUnlessItHasNoRow) {
    LoadCards({{.ports = 2, .firstNumber = 7}, {.ports = 1, .fixedNumber = 0}, {.ports = 1, .firstNumber = 300}});
    OpenMain();
    SelectCard(0);
    SelectPort(1);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 7);  // COM8

    SelectStart(20);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_PORT_LIST, 5), 0);  // LBN_KILLFOCUS
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 19) << "only a selection change or cancel moves it";
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_PORT_LIST, kListSelCancel), 0);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 7);

    SelectCard(1);  // number 0: not reported, the start number stays
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 7);

    SelectCard(2);  // COM300 has no row: the start list is left without a selection
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), -1);
}

TEST_F(ViewsTest, OverlongTextsAreShortenedWithinTheirBuffers) {
    std::string description(511, 'd');
    LoadJson({{"cards",
               {{{"category", "usb"},
                 {"type", "T"},
                 {"name", std::string(387, 'n')},
                 {"usbId", std::string(255, 'u')},
                 {"locationText", std::string(63, 'l')},
                 {"ports", {{{"name", "COM5"}, {"description", description}, {"vendor", std::string(63, 'v')}}}}}}}});
    OpenMain();

    std::string row = ListRow(IDC_PORT_LIST, 0);
    EXPECT_LE(row.size(), 255u);
    EXPECT_EQ(row.substr(row.size() - 3), "...");
    EXPECT_EQ(row.rfind(" 1/1# [VCP]: ddd", 0), 0u);
    std::string status = Status();
    EXPECT_LE(status.size(), 255u);
    EXPECT_EQ(status.rfind("PortCnt:1 | USBID:uuu", 0), 0u);
    EXPECT_EQ(status.substr(status.size() - 3), "...");
    EXPECT_TRUE(Contains(Log(), "\r\n   |--P1:[VCP]" + description + "\r\n"));
}

TEST(Views, UnterminatedLibraryTextIsReadOnlyToItsWidth) {
    static DeviceRecord record;
    record.portCount = 1;
    std::memset(record.typeLabel, 'A', sizeof record.typeLabel);  // no terminator
    record.locationNumber = 'B';                                  // the byte right after it
    std::memset(record.ports[0].vendor, 'V', sizeof record.ports[0].vendor);
    std::strcpy(record.ports[1].portName, "XYZ");  // right after port 0's vendor
    char text[kCardRowSize];
    FormatCardRow(record, 0, text, sizeof text);
    EXPECT_STREQ(text, (" 1#[" + std::string(32, 'A') + "]:").c_str());
    FormatStatusText(record, text, sizeof text);
    EXPECT_TRUE(Contains(text, "| Vendor:" + std::string(64, 'V') + " | Location(66):")) << text;
}

TEST_F(ViewsTest, CategoryAndOrderRowsArePassedAsTheyAre) {
    OpenMain({{.ports = 2}});
    SimClearCalls();
    SelectCombo(IDC_ORDER, 1);
    ComboSelectRow(dialog, IDC_CATEGORY, -1);
    ComboSelectRow(dialog, IDC_ORDER, -1);
    ClickButton(dialog, IDC_ENUMERATE);
    ASSERT_EQ(SimCallCount(), 2);
    EXPECT_EQ(SimCallAt(0).category, 1u);
    EXPECT_EQ(SimCallAt(0).order, 1u);
    EXPECT_EQ(SimCallAt(1).category, 0xFFFFFFFFu);
    EXPECT_EQ(SimCallAt(1).order, 0xFFu);
    EXPECT_EQ(SimCallAt(1).capacity, 64u);
}

}  // namespace

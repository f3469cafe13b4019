// The device table's reset, the bounds it keeps against a misbehaving
// library, and what makes two enumerations the same cards.
#include "inventory/device_table.h"

#include <cstring>

#include "program_fixture.h"

namespace {

using DeviceTableTest = ProgramTest;

DeviceTable table;
DeviceTable other;

TEST_F(DeviceTableTest, ResetClearsCountAndEverySlot) {
    std::memset(&table, 0xA5, sizeof table);
    ResetDeviceTable(table);
    EXPECT_EQ(table.count, 0u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(table.slots);
    for (std::size_t i = 0; i < sizeof table.slots; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

TEST_F(DeviceTableTest, HostileCountsAreClampedAndLogged) {
    TestReporter reporter;
    InstallReporter(&reporter);
    ResetDeviceTable(table);
    table.slots[0].portCount = 200;
    table.slots[63].portCount = 65;
    table.slots[5].portCount = 64;
    EXPECT_EQ(AcceptDeviceCount(table, 1000), 64u);
    EXPECT_EQ(table.count, 64u);
    EXPECT_EQ(table.slots[0].portCount, 64);
    EXPECT_EQ(table.slots[63].portCount, 64);
    EXPECT_EQ(table.slots[5].portCount, 64);
    const std::string& log = reporter.Log();
    EXPECT_TRUE(Contains(log, "reported 1000 cards")) << log;
    EXPECT_TRUE(Contains(log, "Card 1: device library reported 200 ports")) << log;
    EXPECT_TRUE(Contains(log, "Card 64: device library reported 65 ports")) << log;
    EXPECT_FALSE(Contains(log, "Card 6:"));

    ResetDeviceTable(table);
    table.slots[3].portCount = 200;
    EXPECT_EQ(AcceptDeviceCount(table, 3), 3u);
    EXPECT_EQ(table.slots[3].portCount, 200) << "slots beyond the count are not the library's";
}

// Any difference in what names a card or a port makes other cards; the
// library's own values (device information, reserved bytes) and what lies
// beyond the count or a card's ports do not.
TEST_F(DeviceTableTest, SameCardsComparesWhatNamesCardsAndPorts) {
    auto fresh = [](DeviceTable& t) {
        ResetDeviceTable(t);
        t.count = 2;
        for (DeviceRecord& card : t.slots) {
            card.portCount = 2;
            std::strcpy(card.usbId, "USB\\VID_1");
            std::strcpy(card.ports[0].portName, "COM3");
            card.ports[0].portNumber = 3;
            card.ports[1].portNumber = 4;
        }
    };
    using Change = void (*)(DeviceRecord&);
    const std::pair<const char*, Change> differences[] = {
        {"port count", [](DeviceRecord& c) { c.portCount = 1; }},
        {"single port", [](DeviceRecord& c) { c.singlePort = 1; }},
        {"hardware id", [](DeviceRecord& c) { c.usbId[8] = '2'; }},
        {"name", [](DeviceRecord& c) { c.deviceName[0] = 'x'; }},
        {"location", [](DeviceRecord& c) { c.locationText[0] = 'x'; }},
        {"hub path", [](DeviceRecord& c) { c.locationPath[9] = 1; }},
        {"port name", [](DeviceRecord& c) { c.ports[0].portName[3] = '4'; }},
        {"last port's number", [](DeviceRecord& c) { c.ports[1].portNumber = 5; }},
    };
    for (const auto& [what, change] : differences) {
        fresh(table);
        fresh(other);
        EXPECT_TRUE(SameCards(table, other));
        change(other.slots[1]);
        EXPECT_FALSE(SameCards(table, other)) << what;
    }
    fresh(table);
    fresh(other);
    other.slots[1].devInfo[0] = 1;
    other.slots[1].ports[2].portNumber = 9;
    other.slots[2].usbId[0] = 'x';
    EXPECT_TRUE(SameCards(table, other));
    other.count = 3;
    EXPECT_FALSE(SameCards(table, other));
}

}  // namespace

// The device table's reset and the bounds it keeps against a misbehaving library.
#include "inventory/device_table.h"

#include <cstring>

#include "program_fixture.h"

namespace {

using DeviceTableTest = ProgramTest;

TEST_F(DeviceTableTest, ResetClearsCountAndEverySlot) {
    std::memset(&deviceTable, 0xA5, sizeof deviceTable);
    ResetDeviceTable();
    EXPECT_EQ(deviceTable.count, 0u);
    const auto* bytes = reinterpret_cast<const unsigned char*>(deviceTable.slots);
    for (std::size_t i = 0; i < sizeof deviceTable.slots; ++i) {
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
}

TEST_F(DeviceTableTest, HostileCountsAreClampedAndLogged) {
    OpenMain({});
    ResetDeviceTable();
    deviceTable.slots[0].portCount = 200;
    deviceTable.slots[63].portCount = 65;
    deviceTable.slots[5].portCount = 64;
    EXPECT_EQ(AcceptDeviceCount(1000), 64u);
    EXPECT_EQ(deviceTable.count, 64u);
    EXPECT_EQ(deviceTable.slots[0].portCount, 64);
    EXPECT_EQ(deviceTable.slots[63].portCount, 64);
    EXPECT_EQ(deviceTable.slots[5].portCount, 64);
    std::string log = Log();
    EXPECT_TRUE(Contains(log, "reported 1000 cards")) << log;
    EXPECT_TRUE(Contains(log, "Card 1: device library reported 200 ports")) << log;
    EXPECT_TRUE(Contains(log, "Card 64: device library reported 65 ports")) << log;
    EXPECT_FALSE(Contains(log, "Card 6:"));

    ResetDeviceTable();
    deviceTable.slots[3].portCount = 200;
    EXPECT_EQ(AcceptDeviceCount(3), 3u);
    EXPECT_EQ(deviceTable.slots[3].portCount, 200) << "slots beyond the count are not the library's";
}

}  // namespace

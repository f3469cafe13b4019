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
    LoadCards({});
    OpenMain();
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
    EXPECT_EQ(AcceptDeviceCount(3), 3u);
}

TEST_F(DeviceTableTest, FullTableOf64CardsWith64PortsIsShown) {
    std::string json = R"({"cards": [)";
    for (int d = 0; d < 64; ++d) {
        json += d == 0 ? "" : ",";
        json += R"({"category": "usb", "name": "Card", "ports": [)";
        for (int j = 0; j < 64; ++j) {
            json += (j == 0 ? "" : ",") + std::string(R"({"name": "COM)") + std::to_string(d * 64 + j + 1) + R"("})";
        }
        json += "]}";
    }
    json += "]}";
    ASSERT_TRUE(SimLoadDescription(json.c_str()));
    OpenMain();
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 64);
    EXPECT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 64);
    EXPECT_EQ(deviceTable.slots[63].ports[63].portNumber, 4096u);
    EXPECT_TRUE(Contains(Log(), "\r\n***已查找到64个多串卡,共4096个串口.\r\n"));
}

}  // namespace

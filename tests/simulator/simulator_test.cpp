// The card simulator seen through the five library functions, as the program
// calls them, and through its test-control routines.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "inventory/devmgr.h"
#include "record_checks.h"
#include "simulator/sim_control.h"

namespace {

// Bytes of a text field past its terminator are zero: the record was zeroed
// before it was filled.
template <std::size_t N>
bool ZeroAfterText(const char (&field)[N]) {
    const std::size_t length = strnlen(field, N);
    return length < N && AllBytes(field + length, N - length, 0);
}

std::vector<DeviceRecord> CanaryTable(std::size_t slots) {
    std::vector<DeviceRecord> table(slots);
    std::memset(table.data(), kCanary, slots * sizeof(DeviceRecord));
    return table;
}

std::string Names(const std::vector<DeviceRecord>& table, std::uint32_t count) {
    std::string names;
    for (std::uint32_t i = 0; i < count; ++i) {
        names += (i ? "," : "") + Text(table[i].deviceName);
    }
    return names;
}

std::uint32_t Enumerate(std::vector<DeviceRecord>& table, std::uint32_t category = kCategoryAll,
                        std::uint8_t order = kOrderByPosition) {
    return EnumComPortDev(category, order, table.data(), static_cast<std::uint32_t>(table.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Five cards of every category, two of them with two ports.
constexpr const char* kMixed = R"({"cards": [
  {"category": "usb", "type": "U2", "name": "Alpha", "ports": [{"name": "COM3"}, {"name": "COM4"}]},
  {"category": "pci", "type": "P4", "name": "Bravo",
   "ports": [{"name": "COM5"}, {"name": "COM6"}, {"name": "COM7"}, {"name": "COM8"}]},
  {"category": "usb", "type": "U1", "name": "Charlie", "singlePort": true, "ports": [{"name": "COM9"}]},
  {"category": "ble", "type": "B1", "name": "Delta", "ports": [{"name": "COM10"}]},
  {"category": "pci", "type": "P2", "name": "Echo", "ports": [{"name": "COM11"}, {"name": "COM12"}]}
]})";

class Simulator : public testing::Test {
protected:
    void SetUp() override {
        unsetenv("KESTROVA_SIM_CARDS");
        SimReset();
        std::string pattern = testing::TempDir() + "kestrova-sim-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        SimReset();
        unsetenv("KESTROVA_SIM_CARDS");
        std::filesystem::remove_all(folder);
    }
    // Writes a description file and makes it the simulator's source.
    std::string UseFile(const std::string& text) {
        const std::string path = folder + "/cards.json";
        WriteFile(path, text);
        SimUseCardsFile(path.c_str());
        return path;
    }
    // Loads text from a file and expects it refused with a message naming where.
    void ExpectRefused(const std::string& text, const std::string& where) {
        SCOPED_TRACE(text);
        SimReset();
        const std::string path = UseFile(text);
        EXPECT_EQ(InitDevManagerLib(), 0);
        auto table = CanaryTable(2);
        EXPECT_EQ(Enumerate(table), 0u);
        EXPECT_TRUE(AllBytes(table.data(), table.size() * sizeof(DeviceRecord), kCanary));
        const std::string messages = SimAllMessages();
        EXPECT_NE(messages.find(path), std::string::npos) << messages;
        EXPECT_NE(messages.find(where), std::string::npos) << messages;
        EXPECT_NE(messages.find("no cards reported"), std::string::npos) << messages;
    }
    std::string folder;
};

TEST_F(Simulator, DefaultBenchIsARealisticMixOfCards) {
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 5u);

    const DeviceRecord& hubCard = table[0];
    EXPECT_EQ(hubCard.portCount, 4);
    EXPECT_EQ(Text(hubCard.typeLabel), "USB4P");
    EXPECT_EQ(Text(hubCard.usbId).rfind("USB\\VID_", 0), 0u);
    EXPECT_EQ(hubCard.locationPath[3], 1);
    EXPECT_EQ(hubCard.locationPath[4], 2);
    EXPECT_EQ(hubCard.locationPath[5], 0);

    EXPECT_EQ(table[1].portCount, 2);
    EXPECT_EQ(table[1].locationPath[3], 3);
    EXPECT_EQ(table[1].locationPath[4], 0);

    EXPECT_NE(table[2].singlePort, 0u);
    EXPECT_EQ(table[2].portCount, 1);
    EXPECT_NE(table[2].ports[0].isCdc, 0);

    EXPECT_EQ(table[3].portCount, 8);
    EXPECT_EQ(Text(table[3].usbId).rfind("PCI\\", 0), 0u);
    EXPECT_EQ(table[4].portCount, 1);

    EXPECT_EQ(EnumComPortDev(kCategoryUsb, kOrderByPosition, table.data(), kMaxDevices), 3u);
    EXPECT_EQ(EnumComPortDev(kCategoryPci, kOrderByPosition, table.data(), kMaxDevices), 1u);
    EXPECT_EQ(EnumComPortDev(kCategoryBleEthernet, kOrderByPosition, table.data(), kMaxDevices), 1u);

    // Every port has its own number, none is COM1 or COM2, and every text is ASCII.
    ASSERT_EQ(Enumerate(table), 5u);
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t i = 0; i < 5; ++i) {
        const DeviceRecord& card = table[i];
        for (const std::string& text : {Text(card.deviceName), Text(card.usbId), Text(card.locationText)}) {
            EXPECT_FALSE(text.empty());
            for (char c : text) {
                EXPECT_EQ(static_cast<unsigned char>(c) & 0x80u, 0u) << text;
            }
        }
        for (unsigned j = 0; j < card.portCount; ++j) {
            const PortRecord& port = card.ports[j];
            EXPECT_GT(port.portNumber, 2u);
            EXPECT_EQ(Text(port.portName), "COM" + std::to_string(port.portNumber));
            EXPECT_FALSE(Text(port.description).empty());
            EXPECT_FALSE(Text(port.vendor).empty());
            for (std::uint32_t seen : numbers) {
                EXPECT_NE(seen, port.portNumber);
            }
            numbers.push_back(port.portNumber);
        }
    }
}

TEST_F(Simulator, CategoryAndOrderChooseAndSortTheCards) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    auto table = CanaryTable(kMaxDevices);
    struct Case {
        std::uint32_t category;
        std::uint8_t order;
        const char* names;
    };
    const Case cases[] = {
        {kCategoryAll, kOrderByPosition, "Alpha,Bravo,Charlie,Delta,Echo"},
        {kCategoryUsb, kOrderByPosition, "Alpha,Charlie"},
        {kCategoryPci, kOrderByPosition, "Bravo,Echo"},
        {kCategoryBleEthernet, kOrderByPosition, "Delta"},
        // Most ports first; equal counts keep description order.
        {kCategoryAll, kOrderByPortCount, "Bravo,Alpha,Echo,Charlie,Delta"},
        {kCategoryUsb, kOrderByPortCount, "Alpha,Charlie"},
        {kCategoryPci, kOrderByPortCount, "Bravo,Echo"},
        // Codes outside the known ones: every card, in description order.
        {0xFFFFFFFFu, 0xFF, "Alpha,Bravo,Charlie,Delta,Echo"},
        {4, 2, "Alpha,Bravo,Charlie,Delta,Echo"},
        {0xFFFFFFFFu, kOrderByPortCount, "Bravo,Alpha,Echo,Charlie,Delta"},
        {kCategoryPci, 0xFF, "Bravo,Echo"},
    };
    for (const Case& c : cases) {
        const std::uint32_t count = Enumerate(table, c.category, c.order);
        EXPECT_EQ(Names(table, count), c.names) << "category " << c.category << " order " << int(c.order);
    }
}

TEST_F(Simulator, WritesWholeRecordsAndNothingBeyondTheCapacity) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    auto table = CanaryTable(6);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table.data(), 3), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const DeviceRecord& card = table[i];
        EXPECT_TRUE(AllBytes(card.reserved1, sizeof card.reserved1, 0));
        EXPECT_TRUE(AllBytes(card.reserved66744, sizeof card.reserved66744, 0));
        EXPECT_TRUE(AllBytes(card.reserved66929, sizeof card.reserved66929, 0));
        EXPECT_TRUE(ZeroAfterText(card.usbId));
        EXPECT_TRUE(ZeroAfterText(card.deviceName));
        EXPECT_TRUE(ZeroAfterText(card.locationText));
        EXPECT_TRUE(ZeroAfterText(card.typeLabel));
        EXPECT_TRUE(AllBytes(card.locationPath, sizeof card.locationPath, 0));
        for (unsigned j = 0; j < card.portCount; ++j) {
            const PortRecord& port = card.ports[j];
            EXPECT_TRUE(ZeroAfterText(port.portName));
            EXPECT_TRUE(ZeroAfterText(port.description));
            EXPECT_TRUE(AllBytes(port.reserved68, sizeof port.reserved68, 0));
            EXPECT_TRUE(AllBytes(port.reserved856, sizeof port.reserved856, 0));
        }
        EXPECT_TRUE(AllBytes(&card.ports[card.portCount], (kMaxPorts - card.portCount) * sizeof(PortRecord), 0));
    }
    EXPECT_TRUE(AllBytes(&table[3], 3 * sizeof(DeviceRecord), kCanary));

    auto untouched = CanaryTable(2);
    EXPECT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, untouched.data(), 0), 0u);
    EXPECT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, nullptr, kMaxDevices), 0u);
    EXPECT_TRUE(AllBytes(untouched.data(), 2 * sizeof(DeviceRecord), kCanary));
}

TEST_F(Simulator, SixtyFourCardsOfSixtyFourPortsFillTheWholeTable) {
    nlohmann::json description = {{"cards", nlohmann::json::array()}};
    for (unsigned i = 0; i < kMaxDevices; ++i) {
        nlohmann::json card = {{"category", "usb"}, {"name", "Card " + std::to_string(i)}};
        for (unsigned j = 0; j < kMaxPorts; ++j) {
            card["ports"].push_back({{"name", "COM" + std::to_string(100 + i * kMaxPorts + j)}});
        }
        description["cards"].push_back(card);
    }
    ASSERT_TRUE(SimLoadDescription(description.dump().c_str()));
    auto table = CanaryTable(kMaxDevices + 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPortCount, table.data(), kMaxDevices), kMaxDevices);
    for (unsigned i = 0; i < kMaxDevices; ++i) {
        ASSERT_EQ(table[i].portCount, kMaxPorts);
        EXPECT_EQ(Text(table[i].deviceName), "Card " + std::to_string(i));
        EXPECT_EQ(table[i].ports[kMaxPorts - 1].portNumber, 100 + i * kMaxPorts + kMaxPorts - 1);
    }
    EXPECT_EQ(Text(table[63].ports[63].portName), "COM4195");
    EXPECT_TRUE(AllBytes(&table[kMaxDevices], sizeof(DeviceRecord), kCanary));

    // One card or one port more than the table holds is refused.
    nlohmann::json tooManyPorts = description;
    tooManyPorts["cards"][5]["ports"].push_back({{"name", "COM9"}});
    EXPECT_FALSE(SimLoadDescription(tooManyPorts.dump().c_str()));
    EXPECT_NE(SimAllMessages().find("cards[5].ports: 65 ports"), std::string::npos) << SimAllMessages();
    description["cards"].push_back(description["cards"][0]);
    EXPECT_FALSE(SimLoadDescription(description.dump().c_str()));
    EXPECT_NE(SimAllMessages().find("65 cards"), std::string::npos) << SimAllMessages();
    EXPECT_EQ(Enumerate(table), 0u);
}

TEST_F(Simulator, HubPathFillsTheLocationPathFromElementThree) {
    ASSERT_TRUE(SimLoadDescription(R"({"cards": [
      {"category": "usb", "hubPath": [2, 3], "ports": [{"name": "COM3"}]},
      {"category": "usb", "hubPath": [1, 2, 3, 4, 5, 6], "ports": [{"name": "COM4"}]},
      {"category": "pci", "ports": [{"name": "COM5"}]}
    ]})"));
    auto table = CanaryTable(3);
    ASSERT_EQ(Enumerate(table), 3u);
    const std::uint16_t two[10] = {0, 0, 0, 2, 3, 0, 0, 0, 0, 0};
    const std::uint16_t six[10] = {0, 0, 0, 1, 2, 3, 4, 5, 6, 0};
    EXPECT_EQ(std::memcmp(table[0].locationPath, two, sizeof two), 0);
    EXPECT_EQ(std::memcmp(table[1].locationPath, six, sizeof six), 0);
    EXPECT_TRUE(AllBytes(table[2].locationPath, sizeof table[2].locationPath, 0));

    const std::string card = R"({"cards": [{"category": "usb", "ports": [], "hubPath": )";
    ExpectRefused(card + "[1, 2, 3, 4, 5, 6, 7]}]}", "cards[0].hubPath: 7 hub ports");
    ExpectRefused(card + "[2, 0]}]}", "cards[0].hubPath[1]: 0 is out of range");
    ExpectRefused(card + "[65536]}]}", "cards[0].hubPath[0]: 65536 is out of range");
    ExpectRefused(card + "3}]}", "cards[0].hubPath: expected a list");
}

TEST_F(Simulator, PortNumberDefaultsToTheNumberInTheName) {
    ASSERT_TRUE(SimLoadDescription(R"({"cards": [{"category": "usb", "ports": [
      {"name": "COM12"}, {"name": "COM12", "number": 40}, {"name": "RFCOMM"}, {"name": "COM256"}
    ]}]})"));
    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_EQ(table[0].ports[0].portNumber, 12u);
    EXPECT_EQ(table[0].ports[1].portNumber, 40u);
    EXPECT_EQ(table[0].ports[2].portNumber, 0u);
    EXPECT_EQ(table[0].ports[3].portNumber, 256u);

    ExpectRefused(R"({"cards": [{"category": "usb", "ports": [{"name": "COM70000"}]}]})",
                  "cards[0].ports[0].name: the number in \"COM70000\" is out of range");
}

TEST_F(Simulator, RenameIsSavedForNewEnumerationsAndNewLoads) {
    const std::string path = UseFile(R"({"statusDelayMs": 0, "cards": [
      {"category": "usb", "name": "Alpha", "ports": [{"name": "COM3"}, {"name": "COM5", "label": "B"}]},
      {"category": "pci", "name": "Bravo", "ports": [{"name": "COM7"}]}
    ]})");
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 2u);

    EXPECT_NE(ModifyCOMName(table[0].ports[1].portName, 40), 0);
    ASSERT_EQ(Enumerate(table), 2u);
    EXPECT_EQ(Text(table[0].ports[1].portName), "COM40");
    EXPECT_EQ(table[0].ports[1].portNumber, 40u);
    EXPECT_EQ(Text(table[0].ports[1].portLabel), "B");
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM3");

    // The file holds the new name and number, keeps the other keys, and no
    // temporary file is left beside it.
    const auto saved = nlohmann::json::parse(ReadFile(path));
    EXPECT_EQ(saved["cards"][0]["ports"][1]["name"], "COM40");
    EXPECT_EQ(saved["cards"][0]["ports"][1]["number"], 40);
    EXPECT_EQ(saved["cards"][0]["ports"][1]["label"], "B");
    EXPECT_EQ(saved["statusDelayMs"], 0);
    EXPECT_EQ(saved["cards"][1]["name"], "Bravo");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++files;
    }
    EXPECT_EQ(files, 1u);

    // A fresh start, through the environment variable as the program gets it.
    SimReset();
    setenv("KESTROVA_SIM_CARDS", path.c_str(), 1);
    ASSERT_EQ(InitDevManagerLib(), 1);
    ASSERT_EQ(Enumerate(table), 2u);
    EXPECT_EQ(Text(table[0].ports[1].portName), "COM40");
    EXPECT_EQ(table[0].ports[1].portNumber, 40u);

    // The old name is gone.
    EXPECT_EQ(ModifyCOMName(const_cast<char*>("COM5"), 41), 0);
}

TEST_F(Simulator, ASaveByAnotherProcessIsSeenByTheNextEnumeration) {
    const std::string path = UseFile(R"({"cards": [{"category": "usb", "ports": [{"name": "COM3"}]}]})");
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(2);
    ASSERT_EQ(Enumerate(table), 1u);
    DeviceRecord before = table[0];
    WriteFile(path, R"({"cards": [{"category": "usb", "ports": [{"name": "COM30"}]},
                                  {"category": "pci", "ports": [{"name": "COM31"}]}]})");
    ASSERT_EQ(Enumerate(table), 2u);
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM30");
    EXPECT_EQ(table[1].ports[0].portNumber, 31u);
    // Device information from before the reload no longer names a device.
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(before.devInfoSet), before.devInfo, 0,
                                 1000),
              0);
    EXPECT_TRUE(SimCardEnabled(0));
}

TEST_F(Simulator, FailedRenamesChangeNothing) {
    const std::string path = UseFile(R"({"cards": [{"category": "usb", "ports": [
      {"name": "COM3", "failRename": true}, {"name": "COM4"}, {"name": "COM5"}]}]})");
    EXPECT_EQ(ModifyCOMName(const_cast<char*>("COM4"), 20), 0);  // before initialisation
    ASSERT_EQ(InitDevManagerLib(), 1);
    const std::string original = ReadFile(path);
    ASSERT_TRUE(SimSetFailRename(0, 2, true));
    EXPECT_FALSE(SimSetFailRename(0, 3, true));

    char com3[64] = "COM3";
    char com4[64] = "COM4";
    char com5[64] = "COM5";
    char unknown[64] = "COM99";
    EXPECT_EQ(ModifyCOMName(com3, 20), 0);
    EXPECT_EQ(ModifyCOMName(com5, 21), 0);
    EXPECT_EQ(ModifyCOMName(com4, 0), 0);
    EXPECT_EQ(ModifyCOMName(unknown, 22), 0);
    EXPECT_EQ(ModifyCOMName(nullptr, 23), 0);

    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM3");
    EXPECT_EQ(Text(table[0].ports[1].portName), "COM4");
    EXPECT_EQ(Text(table[0].ports[2].portName), "COM5");
    EXPECT_EQ(ReadFile(path), original);
    EXPECT_EQ(SimCallLogText(),
              "Modify(COM4,20)=0\nInit=1\nModify(COM3,20)=0\nModify(COM5,21)=0\nModify(COM4,0)=0\n"
              "Modify(COM99,22)=0\nModify(,23)=0\nEnum(0,0,1)=1\n");

    // A rename that cannot be saved fails too.
    std::filesystem::remove_all(folder);
    EXPECT_EQ(ModifyCOMName(com4, 24), 0);
    EXPECT_EQ(SimPortName(0, 1), "COM4");
}

TEST_F(Simulator, BadDescriptionsAreReportedAndListNoCards) {
    ExpectRefused(R"({"cards": [{"category": "usb", "ports": [)", "parse error");
    ExpectRefused("[1, 2]", "expected an object");
    ExpectRefused(R"({"cardz": []})", "cards: missing");
    ExpectRefused(R"({"cards": [{"category": "serial", "ports": []}]})", "cards[0].category: \"serial\"");
    ExpectRefused(R"({"cards": [{"ports": []}]})", "cards[0].category: missing");
    ExpectRefused(R"({"cards": [{"category": "usb", "ports": [{"number": 3}]}]})", "cards[0].ports[0].name: missing");
    ExpectRefused(R"({"cards": [{"category": "usb", "name": 7, "ports": []}]})", "cards[0].name: expected a text");
    ExpectRefused(R"({"cards": [{"category": "usb", "singlePort": 1, "ports": []}]})",
                  "cards[0].singlePort: expected true or false");
    ExpectRefused(R"({"cards": [{"category": "usb", "ports": [{"name": "COM3", "number": "3"}]}]})",
                  "cards[0].ports[0].number: expected a whole number");
    ExpectRefused(R"({"cards": [{"category": "usb", "ports": [{"name": "COM3", "number": 3.5}]}]})",
                  "cards[0].ports[0].number: expected a whole number");

    // A missing file, and a text given by a test.
    SimReset();
    SimUseCardsFile((folder + "/absent.json").c_str());
    EXPECT_EQ(InitDevManagerLib(), 0);
    EXPECT_NE(SimAllMessages().find("absent.json: cannot be read"), std::string::npos) << SimAllMessages();
    auto table = CanaryTable(1);
    EXPECT_EQ(Enumerate(table), 0u);
    EXPECT_FALSE(SimLoadDescription("{\"cards\": [}"));
    EXPECT_EQ(Enumerate(table), 0u);
    EXPECT_TRUE(AllBytes(table.data(), sizeof(DeviceRecord), kCanary));
}

TEST_F(Simulator, OutOfRangeNumbersAreRefused) {
    const std::string card = R"({"cards": [{"category": "usb", )";
    ExpectRefused(card + R"("ports": [{"name": "COM3", "number": 65536}]}]})",
                  "cards[0].ports[0].number: 65536 is out of range (0 to 65535)");
    ExpectRefused(card + R"("ports": [{"name": "COM3", "number": -1}]}]})", "cards[0].ports[0].number: -1");
    ExpectRefused(card + R"("locationNumber": 256, "ports": []}]})", "cards[0].locationNumber: 256 is out of range");
    ExpectRefused(card + R"("locationNumber": 18446744073709551615, "ports": []}]})",
                  "cards[0].locationNumber: 18446744073709551615 is out of range");
    ExpectRefused(R"({"statusDelayMs": -5, "cards": []})", "statusDelayMs: -5 is out of range");
}

TEST_F(Simulator, OverlongTextsAreCutToTheirFieldWithATerminator) {
    const std::string longName = "COM" + std::string(100, '7');
    nlohmann::json description = {
        {"cards",
         {{{"category", "usb"},
           {"type", std::string(40, 'T')},
           {"name", std::string(500, 'N')},
           {"usbId", std::string(300, 'U')},
           {"locationText", std::string(70, 'L')},
           {"ports",
            {{{"name", longName},
              {"number", 9},
              // The two-byte character would straddle the last byte of the field.
              {"description", std::string(510, 'd') + "\xc3\xa9"},
              {"label", std::string(300, 'l')},
              {"vendor", std::string(64, 'v')}}}}}}}};
    ASSERT_TRUE(SimLoadDescription(description.dump().c_str()));
    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    const DeviceRecord& card = table[0];
    EXPECT_EQ(Text(card.typeLabel), std::string(31, 'T'));
    EXPECT_EQ(Text(card.deviceName), std::string(387, 'N'));
    EXPECT_EQ(Text(card.usbId), std::string(255, 'U'));
    EXPECT_EQ(Text(card.locationText), std::string(63, 'L'));
    const PortRecord& port = card.ports[0];
    EXPECT_EQ(Text(port.portName), longName.substr(0, 63));
    EXPECT_EQ(Text(port.description), std::string(510, 'd'));
    EXPECT_EQ(Text(port.portLabel), std::string(259, 'l'));
    EXPECT_EQ(Text(port.vendor), std::string(63, 'v'));
    EXPECT_EQ(port.portNumber, 9u);
    EXPECT_NE(SimAllMessages().find("cards[0].name: 500 bytes do not fit in 387"), std::string::npos)
        << SimAllMessages();

    // The cut name is the port's name from now on.
    EXPECT_NE(ModifyCOMName(const_cast<char*>(port.portName), 12), 0);
    EXPECT_EQ(SimPortName(0, 0), "COM12");
}

TEST_F(Simulator, StatusChangesAreTrackedPerCardAndPort) {
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(kMaxDevices);
    // By port count the 8-port card (description index 3) comes first.
    ASSERT_EQ(Enumerate(table, kCategoryAll, kOrderByPortCount), 5u);
    ASSERT_EQ(table[0].portCount, 8);
    DeviceRecord& pci = table[0];
    PortRecord& third = table[1].ports[2];  // the 4-port card, description index 0

    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), pci.devInfo, 0, kDisableWaitMs), 1);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(third.devInfoSet), third.devInfo, 0, 100), 1);
    EXPECT_FALSE(SimCardEnabled(3));
    EXPECT_FALSE(SimPortEnabled(0, 2));
    EXPECT_TRUE(SimCardEnabled(0));
    EXPECT_TRUE(SimPortEnabled(0, 1));
    EXPECT_TRUE(SimPortEnabled(3, 0));

    // Refused: device information not from the library, a set of another card,
    // an enable code other than 0 or 1.
    std::uint8_t foreign[32] = {};
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), foreign, 1, kEnableWaitMs), 0);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), pci.devInfo, 1, kEnableWaitMs), 0);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), pci.devInfo, 2, kEnableWaitMs), 0);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), nullptr, 1, kEnableWaitMs), 0);
    EXPECT_FALSE(SimCardEnabled(3));

    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), pci.devInfo, 1, kEnableWaitMs), 1);
    EXPECT_TRUE(SimCardEnabled(3));
    EXPECT_FALSE(SimPortEnabled(0, 2));

    EXPECT_EQ(SimCallLogText(),
              "Init=1\nEnum(0,1,64)=5\nChange(3,-1,0,3000)=1\nChange(0,2,0,100)=1\nChange(-1,-1,1,1000)=0\n"
              "Change(-1,-1,1,1000)=0\nChange(-1,-1,2,1000)=0\nChange(-1,-1,1,1000)=0\nChange(3,-1,1,1000)=1\n");
    // The simulated wait is the description's delay, cut to the call's time.
    EXPECT_EQ(SimCallAt(2).delayMs, 150u);
    EXPECT_EQ(SimCallAt(3).delayMs, 100u);
    EXPECT_EQ(SimCallAt(4).delayMs, 0u);

    ASSERT_EQ(DeinitDevManagerLib(), 1);
    EXPECT_FALSE(SimIsInitialised());
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(pci.devInfoSet), pci.devInfo, 0, kDisableWaitMs), 0);
    EXPECT_EQ(Enumerate(table), 0u);
}

struct HookLog {
    std::vector<SimCall> calls;
    std::vector<bool> cardEnabled;
};

void RecordChange(void* context, const SimCall& call) {
    auto* log = static_cast<HookLog*>(context);
    log->calls.push_back(call);
    // The simulator is unlocked here: reading its state must not deadlock.
    log->cardEnabled.push_back(SimCardEnabled(call.card));
}

TEST_F(Simulator, TheHookSeesEachChangeAfterItIsMade) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 5u);
    HookLog log;
    SimSetChangeHook(RecordChange, &log);
    std::thread worker([&] {
        ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), table[1].devInfo, 0, kDisableWaitMs);
        ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), table[1].devInfo, 1, kEnableWaitMs);
    });
    worker.join();
    ASSERT_EQ(log.calls.size(), 2u);
    EXPECT_EQ(log.calls[0].card, 1);
    EXPECT_EQ(log.calls[0].enable, 0u);
    EXPECT_FALSE(log.cardEnabled[0]);
    EXPECT_EQ(log.calls[1].enable, 1u);
    EXPECT_TRUE(log.cardEnabled[1]);

    // A refused call does not reach the hook.
    std::uint8_t foreign[32] = {};
    EXPECT_EQ(ChangeDeviceStatus(0, foreign, 0, kDisableWaitMs), 0);
    EXPECT_EQ(log.calls.size(), 2u);
}

TEST_F(Simulator, AWorkerAndAReaderShareTheState) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 5u);
    std::atomic<bool> done{false};
    std::thread worker([&] {
        char name[64] = "COM3";
        for (int round = 0; round < 100; ++round) {
            ChangeDeviceStatus(DevInfoSetValue(table[0].devInfoSet), table[0].devInfo, 0, 0);
            const std::uint16_t number = static_cast<std::uint16_t>(round % 2 ? 3 : 50);
            ModifyCOMName(name, number);
            std::snprintf(name, sizeof name, "COM%u", static_cast<unsigned>(number));
            ChangeDeviceStatus(DevInfoSetValue(table[0].devInfoSet), table[0].devInfo, 1, 0);
        }
        done = true;
    });
    while (!done) {
        static_cast<void>(SimCardEnabled(0));
        static_cast<void>(SimPortName(0, 0));
        static_cast<void>(SimCallLogText());
    }
    worker.join();
    EXPECT_EQ(SimCallCount(), 1 + 300);
    EXPECT_EQ(SimPortName(0, 0), "COM3");
    EXPECT_TRUE(SimCardEnabled(0));
}

TEST_F(Simulator, RenamesWithoutAFileLastUntilReset) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    EXPECT_NE(ModifyCOMName(const_cast<char*>("COM9"), 90), 0);
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(SimPortNumber(2, 0), 90u);
    EXPECT_NE(SimDescriptionText().find("\"COM90\""), std::string::npos);

    // The built-in bench keeps renames for the life of the process too.
    SimReset();
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_NE(ModifyCOMName(const_cast<char*>("COM3"), 33), 0);
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(SimPortName(0, 0), "COM33");
    SimReset();
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(SimPortName(0, 0), "COM3");
}

TEST_F(Simulator, AnAbsentCardIsLeftOut) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    ASSERT_TRUE(SimSetCardPresent(1, false));
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 4u);
    EXPECT_EQ(Names(table, 4), "Alpha,Charlie,Delta,Echo");
    // Its slot's device information still names the right card.
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[3].devInfoSet), table[3].devInfo, 0, 0), 1);
    EXPECT_FALSE(SimCardEnabled(4));
    ASSERT_TRUE(SimSetCardPresent(1, true));
    EXPECT_EQ(Enumerate(table), 5u);
}

}  // namespace

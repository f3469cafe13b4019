// The card simulator as the program calls it, checked through the records it
// writes and through its test-control routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "inventory/devmgr.h"
#include "simulator/sim_control.h"

namespace {

using nlohmann::json;

constexpr std::uint8_t kCanary = 0xA5;

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

bool AllBytes(const void* data, std::size_t size, std::uint8_t value) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::all_of(bytes, bytes + size, [=](std::uint8_t b) { return b == value; });
}

std::vector<DeviceRecord> CanaryTable(std::size_t slots) {
    std::vector<DeviceRecord> table(slots);
    std::memset(table.data(), kCanary, slots * sizeof(DeviceRecord));
    return table;
}

std::uint32_t Enumerate(std::vector<DeviceRecord>& table, std::uint32_t category = 0, std::uint8_t order = 0) {
    return EnumComPortDev(category, order, table.data(), static_cast<std::uint32_t>(table.size()));
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool Said(const std::string& text) { return SimAllMessages().find(text) != std::string::npos; }

constexpr const char* kMixed = R"({"statusDelayMs": 5, "cards": [
  {"category": "usb", "name": "Alpha", "hubPath": [2, 3], "ports": [{"name": "COM3"}, {"name": "COM4"}]},
  {"category": "pci", "name": "Bravo", "ports": [{"name": "COM5"}, {"name": "COM6"}, {"name": "COM7"}]},
  {"category": "usb", "name": "Charlie", "singlePort": true, "ports": [{"name": "RFCOMM"}]},
  {"category": "ble", "name": "Delta", "ports": [{"name": "COM10", "number": 40}]},
  {"category": "pci", "name": "Echo", "ports": [{"name": "COM11"}, {"name": "COM12"}]}]})";

class Simulator : public testing::Test {
protected:
    void SetUp() override {
        unsetenv("KESTROVA_SIM_CARDS");
        SimReset();
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        path = folder + "/cards.json";
    }
    void TearDown() override {
        SimReset();
        unsetenv("KESTROVA_SIM_CARDS");
        std::filesystem::remove_all(folder);
    }
    void UseFile(const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        SimUseCardsFile(path.c_str());
    }
    std::string folder = testing::TempDir() + "kestrova-sim-XXXXXX";
    std::string path;
};

TEST_F(Simulator, CategoryAndOrderChooseWholeZeroedRecords) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    auto table = CanaryTable(kMaxDevices);
    const struct {
        std::uint32_t category;
        std::uint8_t order;
        const char* names;
    } cases[] = {
        {kCategoryAll, kOrderByPosition, "Alpha,Bravo,Charlie,Delta,Echo"},
        {kCategoryUsb, kOrderByPosition, "Alpha,Charlie"},
        {kCategoryBleEthernet, kOrderByPosition, "Delta"},
        {kCategoryAll, kOrderByPortCount, "Bravo,Alpha,Echo,Charlie,Delta"},  // equal counts keep their order
        {kCategoryPci, kOrderByPortCount, "Bravo,Echo"},
        {0xFFFFFFFFu, 0xFF, "Alpha,Bravo,Charlie,Delta,Echo"},  // unknown codes: every card, as described
    };
    for (const auto& c : cases) {
        std::string names;
        for (std::uint32_t i = 0, n = Enumerate(table, c.category, c.order); i < n; ++i) {
            names += (i ? "," : "") + Text(table[i].deviceName);
        }
        EXPECT_EQ(names, c.names) << c.category << "/" << +c.order;
    }
    auto small = CanaryTable(4);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, small.data(), 3), 3u);
    EXPECT_EQ(small[0].locationPath[3] * 10 + small[0].locationPath[4] + small[0].locationPath[5], 23);
    EXPECT_EQ(small[2].ports[0].portNumber, 0u);  // no digits in the name
    EXPECT_NE(small[2].singlePort, 0);
    EXPECT_TRUE(AllBytes(small[1].ports[0].portName + 4, sizeof(PortRecord::portName) - 4, 0));
    EXPECT_TRUE(AllBytes(&small[1].ports[3], (kMaxPorts - 3) * sizeof(PortRecord), 0));
    EXPECT_TRUE(AllBytes(&small[3], sizeof(DeviceRecord), kCanary));
}

TEST_F(Simulator, ARigBiggerThanTheTableFillsItAndSaysWhatItLeftOut) {
    json description = {{"cards", json::array()}};
    for (unsigned i = 0; i < 70; ++i) {
        json card = {{"category", "usb"}, {"name", "Card " + std::to_string(i)}};
        for (unsigned j = 0; j < (i == 1 ? 80u : 2u); ++j)
            card["ports"].push_back({{"name", "COM" + std::to_string(j + 3)}});
        description["cards"].push_back(card);
    }
    ASSERT_TRUE(SimLoadDescription(description.dump().c_str()));
    auto table = CanaryTable(kMaxDevices + 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPortCount, table.data(), kMaxDevices), kMaxDevices);
    EXPECT_EQ(Text(table[0].deviceName) + "," + Text(table[kMaxDevices - 1].deviceName), "Card 1,Card 63");
    EXPECT_EQ(table[0].portCount, kMaxPorts);
    EXPECT_EQ(Text(table[0].ports[kMaxPorts - 1].portName), "COM66");
    EXPECT_TRUE(AllBytes(&table[kMaxDevices], sizeof(DeviceRecord), kCanary));
    EXPECT_TRUE(Said("EnumComPortDev: 70 cards, a table of 64; the last 6 left out")) << SimAllMessages();
    EXPECT_TRUE(Said("cards[1] has 80 ports, a record holds 64; the last 16 left out")) << SimAllMessages();
    EXPECT_NE(ModifyCOMName(table[0].ports[kMaxPorts - 1].portName, 200), 0);
    EXPECT_EQ(SimPortNumber(1, kMaxPorts - 1), 200u);
}

TEST_F(Simulator, RenameChangesThePortOfItsRecordAndSavesIt) {
    UseFile(R"({"cards": [{"category": "usb", "name": "A", "ports": [{"name": "COM3", "failRename": true}]},
                          {"category": "usb", "name": "B", "ports": [{"name": "COM3"}]}]})");
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 2u);
    EXPECT_EQ(ModifyCOMName(table[0].ports[0].portName, 40), 0);  // failRename
    EXPECT_EQ(ModifyCOMName(table[1].ports[0].portName, 0), 0);   // not a COM number
    EXPECT_EQ(ModifyCOMName(nullptr, 40), 0);
    EXPECT_NE(ModifyCOMName(table[1].ports[0].portName, 40), 0);
    EXPECT_EQ(SimPortName(0, 0) + "," + SimPortName(1, 0), "COM3,COM40");

    // Only a portName field of the last filled table names a port.
    char copy[64] = "COM3";
    EXPECT_EQ(ModifyCOMName(copy, 41), 0);
    EXPECT_EQ(ModifyCOMName(table[0].ports[0].portLabel, 41), 0);
    EXPECT_EQ(ModifyCOMName(table[2].ports[0].portName, 41), 0);
    EXPECT_TRUE(Said("COM3 is not a port name in the table the last EnumComPortDev filled")) << SimAllMessages();

    // A new start through the environment, as the program gets it, after a
    // process that never closed the library: the start folds its change log
    // into the file. A table from before a load names nothing.
    SimReset();
    setenv("KESTROVA_SIM_CARDS", path.c_str(), 1);
    ASSERT_EQ(InitDevManagerLib(), 1);
    const json saved = json::parse(std::ifstream(path));
    EXPECT_EQ(saved["cards"][0]["ports"][0], json({{"name", "COM3"}, {"failRename", true}}));
    EXPECT_EQ(saved["cards"][1]["ports"][0], json({{"name", "COM40"}, {"number", 40}}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);  // no log, no temporary
    ASSERT_EQ(Enumerate(table), 2u);
    EXPECT_EQ(Text(table[1].ports[0].portName), "COM40");
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(ModifyCOMName(table[0].ports[0].portName, 42), 0);
    EXPECT_TRUE(Said("the table is from before the description was reloaded")) << SimAllMessages();

    // A save by another process is seen by the next enumeration.
    UseFile(R"({"cards": [{"category": "pci", "ports": [{"name": "COM9"}]}]})");
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_EQ(table[0].ports[0].portNumber, 9u);
    std::filesystem::remove_all(folder);  // a rename that cannot be saved fails
    EXPECT_EQ(ModifyCOMName(table[0].ports[0].portName, 10), 0);
    EXPECT_EQ(SimPortName(0, 0), "COM9");
}

TEST_F(Simulator, BadDescriptionsAreRefusedWithThePlace) {
    const std::string card = R"({"cards": [{"category": "usb", )";
    const std::string deep = std::string(10000, '[') + std::string(10000, ']');
    const struct {
        std::string text;
        const char* where;
    } cases[] = {
        {card + R"("ports": [)", "parse error"},
        {"[1, 2]", "expected an object"},
        {R"({"cards": [{"category": "serial"}]})", "cards[0].category: \"serial\""},
        {card + R"("ports": [{"name": "COM3", "number": "3"}]}]})", "cards[0].ports[0].number: expected a whole"},
        {card + R"("ports": [{"name": "COM3", "number": 65536}]}]})", "number: 65536 is out of range (0 to 65535)"},
        {card + R"("ports": [{"name": "COM70000"}]}]})", "the number in \"COM70000\" is out of range"},
        {card + R"("hubPath": [1, 2, 3, 4, 5, 6, 7]}]})", "cards[0].hubPath: 7 hub ports"},
        {R"({"cards": [], "notes": )" + deep + "}", "values nested more than 64 deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        SimReset();
        UseFile(c.text);
        EXPECT_EQ(InitDevManagerLib(), 0);
        auto table = CanaryTable(1);
        EXPECT_EQ(Enumerate(table), 0u);
        EXPECT_TRUE(AllBytes(table.data(), sizeof(DeviceRecord), kCanary));
        EXPECT_TRUE(Said(path + ": not a valid card description: ") && Said(c.where)) << SimAllMessages();
    }
    // Nesting up to the limit loads, and a rename saves it back.
    UseFile(card + R"("ports": [{"name": "COM3"}], "notes": )" + std::string(60, '[') + std::string(60, ']') + "}]}");
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_NE(ModifyCOMName(table[0].ports[0].portName, 5), 0);
}

void RecordChange(void* context, const SimCall& call) {
    // The simulator is unlocked here, and the change already made.
    static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(call.card) +
                                                               (SimCardEnabled(call.card) ? ":on" : ":off"));
}

TEST_F(Simulator, StatusChangesAreTrackedAndCheckedAgainstTheirLoad) {
    ASSERT_TRUE(SimLoadDescription(kMixed));
    ASSERT_TRUE(SimSetCardPresent(0, false));  // unplugged: left out
    auto table = CanaryTable(kMaxDevices);
    ASSERT_EQ(Enumerate(table), 4u);
    std::vector<std::string> seen;
    SimSetChangeHook(RecordChange, &seen);
    DeviceRecord& bravo = table[0];
    PortRecord& port = table[3].ports[1];  // Echo's second port
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(bravo.devInfoSet), bravo.devInfo, 0, 3), 1);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(port.devInfoSet), port.devInfo, 0, 100), 1);
    std::uint8_t foreign[32] = {};
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(bravo.devInfoSet), foreign, 1, 0), 0);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), bravo.devInfo, 1, 0), 0);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(bravo.devInfoSet), bravo.devInfo, 2, 0), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1:off", "4:on"}));
    EXPECT_EQ((std::vector<bool>{SimCardEnabled(1), SimPortEnabled(4, 1), SimPortEnabled(4, 0)}),
              (std::vector<bool>{false, false, true}));
    EXPECT_EQ(SimCallAt(1).delayMs, 3u);  // min(statusDelayMs, the call's time)
    EXPECT_EQ(SimCallAt(2).delayMs, 5u);
    ASSERT_TRUE(SimLoadDescription(kMixed));  // a reload: old device information names nothing
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(bravo.devInfoSet), bravo.devInfo, 1, 0), 0);
}

constexpr const char* kTwoPorts = R"({"cards": [{"category": "usb", "ports": [{"name": "COM3"}, {"name": "COM4"}]}]})";

TEST_F(Simulator, ChangesReachOtherProcessesThroughTheLogAndFoldBackWhole) {
    UseFile(kTwoPorts);
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    // Another process disables the card, renames a port and is killed.
    const pid_t child = fork();
    if (child == 0) {
        SimReset();
        SimUseCardsFile(path.c_str());
        const bool ok = InitDevManagerLib() == 1 && Enumerate(table) == 1 &&
                        ChangeDeviceStatus(DevInfoSetValue(table[0].devInfoSet), table[0].devInfo, 0, 0) == 1 &&
                        ModifyCOMName(table[0].ports[1].portName, 40) != 0;
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(FileText(path), kTwoPorts);  // not written whole
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_EQ(Text(table[0].ports[1].portName), "COM40");
    EXPECT_FALSE(SimCardEnabled(0));
    // A long run folds as it goes, so the log stays about the file's size.
    for (int i = 0; i < 400; ++i) {
        ASSERT_NE(ModifyCOMName(table[0].ports[0].portName, static_cast<std::uint16_t>(100 + i)), 0);
    }
    EXPECT_LT(std::filesystem::file_size(path + ".log"), 4200u);
    EXPECT_EQ(DeinitDevManagerLib(), 1);
    EXPECT_EQ(json::parse(std::ifstream(path))["cards"][0], json::parse(R"({"category": "usb", "enabled": false,
                              "ports": [{"name": "COM499", "number": 499}, {"name": "COM40", "number": 40}]})"));
    EXPECT_FALSE(std::filesystem::exists(path + ".log"));
}

TEST_F(Simulator, TornBadAndForeignLogLinesAreNotReplayed) {
    UseFile(kTwoPorts);
    ASSERT_EQ(InitDevManagerLib(), 1);
    auto table = CanaryTable(1);
    ASSERT_EQ(Enumerate(table), 1u);
    ASSERT_NE(ModifyCOMName(table[0].ports[0].portName, 30), 0);
    // Another process's line naming no port, and one cut short as it died.
    std::ofstream(path + ".log", std::ios::binary | std::ios::app) << "name 9 0 5\nname 0 0 7";
    ASSERT_EQ(Enumerate(table), 1u);
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM30");
    EXPECT_TRUE(Said(".log: line 3: \"name 9 0 5\" is not a change to these cards")) << SimAllMessages();
    ASSERT_NE(ModifyCOMName(table[0].ports[1].portName, 50), 0);  // the torn line is cut off
    SimReset();
    SimUseCardsFile(path.c_str());
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(SimPortName(0, 0) + "," + SimPortName(0, 1), "COM30,COM50");
    // A log written for another cards text (a fold cut short) is dropped.
    const std::string folded = FileText(path);
    std::ofstream(path + ".log", std::ios::binary) << "kestrova-sim-log 1 9 0123456789abcdef\nname 0 0 99\n";
    SimReset();
    SimUseCardsFile(path.c_str());
    ASSERT_EQ(InitDevManagerLib(), 1);
    EXPECT_EQ(SimPortName(0, 0), "COM30");
    EXPECT_TRUE(Said("written for another version of")) << SimAllMessages();
    EXPECT_EQ(FileText(path), folded);
    EXPECT_FALSE(std::filesystem::exists(path + ".log"));
}

}  // namespace

// Layouts: the file a script edits, the mapping of an apply, and /export,
// /check and /apply with the exit codes and output fleet tools read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "renumber/port_layout.h"
#include "resources/strings.h"
#include "tests/cli/cli_fixture.h"
#include "ui/cli.h"

namespace {

using Json = nlohmann::json;

std::string Read(const std::string& text, PortLayout& layout) {
    char reason[kLayoutReasonSize];
    return ReadLayout(text.data(), text.size(), layout, reason, sizeof reason) ? "" : reason;
}

Json Card(const char* id, std::vector<std::pair<int, int>> ports) {
    Json list = Json::array();
    for (auto [port, number] : ports) {
        list.push_back({{"port", port}, {"number", number}});
    }
    return {{"usbId", id}, {"location", "L"}, {"ports", list}};
}

Json Layout(std::vector<Json> cards) { return {{"kestrovaLayout", 1}, {"cards", cards}}; }

TEST(LayoutFile, ReadsByPositionAndRefusesWhatCannotBeApplied) {
    static PortLayout layout;
    Json good = Layout({Card("A", {{2, 21}, {1, 65535}})});
    good["cards"][0]["locationPath"] = {1, 2};
    good["comment"] = "fields of its own are left alone";
    ASSERT_EQ(Read(good.dump(), layout), "");
    ASSERT_EQ(layout.cardCount, 1u);
    EXPECT_EQ(layout.cards[0].pathLength, 2u);
    EXPECT_TRUE(layout.cards[0].ports[0].port == 0 && layout.cards[0].ports[0].number == 65535) << "by position";
    EXPECT_EQ(layout.cards[0].ports[1].number, 21);

    using Change = void (*)(Json&);
    const std::pair<Change, std::string> bad[] = {
        {[](Json& j) { j = Json::array(); }, kLayoutNotLayout},
        {[](Json& j) { j["kestrovaLayout"] = 2; }, "布局文件的版本 2 不支持(只支持 1)"},
        {[](Json& j) { j.erase("cards"); }, kLayoutNoCards},
        {[](Json& j) { j["cards"][0]["ports"][0]["number"] = 0; }, "第1个多串卡的第1个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][1]["number"] = 65536; }, "第1个多串卡的第2个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][0]["number"] = 2.5; }, "第1个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][0]["number"] = "21"; }, "第1个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][0]["port"] = 65; }, "第1个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][0]["port"] = -1; }, "第1个串口项无效"},
        {[](Json& j) { j["cards"][0]["ports"][0]["port"] = 1; }, "第1个多串卡的 P1 出现了不止一次"},
        {[](Json& j) {
             j["cards"].push_back(Card("B", {{3, 21}}));
         },
         "布局文件中 COM21 出现了不止一次(第1个多串卡 P2, 第2个多串卡 P3)"},
        {[](Json& j) { j["cards"][0].erase("location"); }, "第1个多串卡的 \"location\" 无效或缺少"},
        {[](Json& j) { j["cards"][0]["usbId"] = std::string(sizeof LayoutCard::usbId, 'x'); }, "\"usbId\" 无效"},
        {[](Json& j) { j["cards"][0].erase("ports"); }, "第1个多串卡的 \"ports\" 无效或缺少"},
        {[](Json& j) { j["cards"][0]["locationPath"] = {1, 2, 3, 4, 5, 6, 7}; }, "\"locationPath\" 无效"},
        {[](Json& j) { j["cards"][0]["locationPath"] = {0}; }, "\"locationPath\" 无效"},
        {[](Json& j) { j["cards"] = Json::array({Json::array()}); }, "\"cards\" 无效"},
        {[](Json& j) { j["cards"] = Json(65, Card("B", {})); }, kLayoutTooManyCards},
    };
    for (const auto& [change, reason] : bad) {
        Json changed = good;
        change(changed);
        std::string why = Read(changed.dump(), layout);
        EXPECT_NE(why.find(reason), std::string::npos) << changed.dump() << "\n" << why;
        EXPECT_EQ(layout.cardCount, 0u);
    }
    good["cards"][0]["usbId"] = std::string(sizeof LayoutCard::usbId - 1, 'x');
    EXPECT_EQ(Read(good.dump(), layout), "") << "the longest id that fits";
    good["cards"][0]["ports"] = Json::array();
    for (unsigned p = 1; p <= kMaxPorts; ++p) {
        good["cards"][0]["ports"].push_back({{"port", p}, {"number", p}});
    }
    EXPECT_EQ(Read(good.dump(), layout), "") << "a card of 64 ports";
    EXPECT_EQ(Read("{\"kestrovaLayout\": 1, ", layout), "布局文件不是JSON(第23个字节处出错)");
}

// A table as the library fills it: cards named by id and location, their
// ports by name.
void AddCard(DeviceTable& table, const char* id, std::vector<const char*> names, std::uint16_t hub = 0) {
    DeviceRecord& card = table.slots[table.count++];
    card = DeviceRecord{};
    std::snprintf(card.usbId, sizeof card.usbId, "%s", id);
    std::snprintf(card.locationText, sizeof card.locationText, "L");
    card.locationPath[kFirstHubElement] = hub;
    card.portCount = static_cast<std::uint8_t>(names.size());
    for (std::size_t j = 0; j < names.size(); ++j) {
        std::snprintf(card.ports[j].portName, sizeof card.ports[j].portName, "%s", names[j]);
    }
}

std::string Mapping(const RunMapping& mapping) {
    std::string text;
    for (unsigned i = 0; i < mapping.count; ++i) {
        const PortTarget& p = mapping.ports[i];
        text += std::to_string(p.card) + ":" + std::to_string(p.port) + ">" + std::to_string(p.target) + " ";
    }
    return text + "cards " + std::to_string(mapping.firstCard) + "-" + std::to_string(mapping.lastCard) + " idle " +
           std::to_string(mapping.idleCards);
}

TEST(LayoutMapping, RenamesOnlyWhatDiffersOnTheCardsItNames) {
    static DeviceTable table;
    static PortLayout layout;
    static LayoutMatch match;
    static RunMapping mapping;
    char reason[kLayoutReasonSize];
    table.count = 0;
    AddCard(table, "A", {"COM3", "COM4"}, 1);
    AddCard(table, "B", {"COM5", "COM6"});
    AddCard(table, "C", {"COM7", "LPT1"});
    auto map = [&](const Json& file) {
        EXPECT_EQ(Read(file.dump(), layout), "");
        if (!MatchLayout(table, layout, match, reason, sizeof reason)) {
            return std::string(reason);
        }
        MapLayout(table, layout, match, mapping);
        return Mapping(mapping) + " missing " + std::to_string(match.missing);
    };
    // An exchange on the first card, a port of the third; the second stays on.
    EXPECT_EQ(map(Layout({Card("C", {{1, 7}, {2, 9}}), Card("A", {{1, 4}, {2, 3}})})),
              "0:0>4 0:1>3 2:1>9 cards 0-3 idle 2 missing 0");
    EXPECT_EQ(map(Layout({Card("B", {{2, 6}}), Card("Z", {{1, 30}})})), "cards 0-0 idle 0 missing 1");
    Json path = Layout({Card("A", {{1, 40}})});
    path["cards"][0]["locationPath"] = {2};
    EXPECT_EQ(map(path), "cards 0-0 idle 0 missing 1") << "another hub port is another card";
    path["cards"][0]["locationPath"] = {1};
    EXPECT_EQ(map(path), "0:0>40 cards 0-1 idle 0 missing 0");
    std::string checked;
    CheckLayout(table, layout, match, CheckFormat::Text, checked);
    EXPECT_EQ(
        checked,
        "布局不符: 1个串口的串口号与布局不同, 0个多串卡不存在(布局中共1个多串卡, 存在的多串卡有1个串口在布局中).\n"
        "  1#(A, 位置 L) P1: 现为 COM3, 布局为 COM40\n")
        << "the cards of this layout only";

    EXPECT_EQ(map(Layout({Card("B", {{3, 30}})})), "布局文件第1个多串卡(B, 位置 L)只有2个串口,没有 P3");
    EXPECT_EQ(map(Layout({Card("A", {{1, 30}}), Card("B", {{1, 31}}), Card("B", {{2, 32}})})),
              "布局文件第2个和第3个多串卡是同一个多串卡(B, 位置 L)");
    AddCard(table, "B", {"COM10"});
    EXPECT_EQ(map(Layout({Card("B", {{1, 30}})})), "第2个和第4个多串卡的标识相同(B, 位置 L),布局无法区分它们");
    std::string text;
    EXPECT_FALSE(WriteLayout(table, false, text, reason, sizeof reason));
    EXPECT_STREQ(reason, "第2个和第4个多串卡的标识相同(B, 位置 L),布局无法区分它们");
}

class LayoutCli : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        UseCards({{.ports = 2, .firstNumber = 3, .hubPath = {1, 2}},
                  {.ports = 2, .firstNumber = 5},
                  {.category = "pci", .ports = 2, .firstNumber = 7}});
    }
    std::string Errors() { return ModelConsoleText(true); }
    // The output of the last command only.
    std::string Since(std::size_t printed) { return Out().substr(printed); }
    int Changes() {
        int changes = 0;
        for (int i = 0; i < SimCallCount(); ++i) {
            changes += SimCallAt(i).kind == SimCallKind::change ? 1 : 0;
        }
        return changes;
    }
    static constexpr char kFile[] = "C:\\rig\\layout.json";
};

TEST_F(LayoutCli, ExportsChecksAndAppliesALayoutAsAScriptEditsIt) {
    std::string text;
    ASSERT_EQ(Run("/export C:\\rig\\layout.json"), kExitDone);
    ASSERT_EQ(Run("/export x"), kExitDone);
    EXPECT_TRUE(ModelFile("x", &text)) << "a one-letter name is a file";
    ASSERT_TRUE(ModelFile(kFile, &text));
    EXPECT_EQ(text.substr(0, 12), "{\n  \"cards\":") << "indented for people who read it";
    Json layout = Json::parse(text);
    ASSERT_EQ(layout["cards"].size(), 3u) << "every category";
    EXPECT_EQ(layout["cards"][0],
              Json::parse(R"({"usbId": "USB\\VID_1234&PID_0001", "location": "Hub_1", "locationPath": [1, 2],
                              "name": "Test card 1", "ports": [{"port": 1, "number": 3}, {"port": 2, "number": 4}]})"));
    EXPECT_FALSE(layout["cards"][1].contains("locationPath"));

    // Two numbers of a card exchanged, another card moved to a new range.
    layout["cards"][0]["ports"] = Json::parse(R"([{"port": 1, "number": 4}, {"port": 2, "number": 3}])");
    layout["cards"][1]["ports"] = Json::parse(R"([{"port": 1, "number": 20}, {"port": 2, "number": 21}])");
    ModelSetFile(kFile, layout.dump());
    std::size_t printed = Out().size();
    EXPECT_EQ(Run("/check C:\\rig\\layout.json"), kExitPortFailed);
    EXPECT_EQ(
        Since(printed),
        "布局不符: 4个串口的串口号与布局不同, 0个多串卡不存在(布局中共3个多串卡, 存在的多串卡有6个串口在布局中).\n"
        "  1#(USB\\VID_1234&PID_0001, 位置 Hub_1) P1: 现为 COM3, 布局为 COM4\n"
        "  1#(USB\\VID_1234&PID_0001, 位置 Hub_1) P2: 现为 COM4, 布局为 COM3\n"
        "  2#(USB\\VID_1234&PID_0002, 位置 Hub_2) P1: 现为 COM5, 布局为 COM20\n"
        "  2#(USB\\VID_1234&PID_0002, 位置 Hub_2) P2: 现为 COM6, 布局为 COM21\n");
    printed = Out().size();
    EXPECT_EQ(Run("/check C:\\rig\\layout.json /json"), kExitPortFailed);
    Json check = Json::parse(Since(printed));
    EXPECT_EQ(check["differing"], 4);
    EXPECT_EQ(check["differences"][3], Json::parse(R"({"card": 2, "usbId": "USB\\VID_1234&PID_0002",
        "location": "Hub_2", "port": 2, "has": "COM6", "wants": 21})"));

    SimClearCalls();
    ModelComDbSetClaimed(20, true);
    printed = Out().size();
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitDone);
    EXPECT_TRUE(Contains(Since(printed), std::string("(COM20,)已被分配")) && Contains(Since(printed), kTextAnsweredYes))
        << Since(printed);
    EXPECT_EQ(Names(), "COM4 COM3 COM20 COM21 COM7 COM8 ");
    EXPECT_EQ(Changes(), 4) << "the third card stays on";
    EXPECT_EQ(Run("/check C:\\rig\\layout.json"), kExitDone);

    // Again: nothing switched off, no journal written.
    std::string journalBefore;
    ASSERT_TRUE(ModelFile(kJournalFile, &journalBefore));
    SimClearCalls();
    printed = Out().size();
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitDone);
    EXPECT_EQ(Since(printed), std::string(kTextLayoutHeld) + "\n");
    EXPECT_EQ(Changes(), 0);
    std::string journalAfter;
    ASSERT_TRUE(ModelFile(kJournalFile, &journalAfter));
    EXPECT_EQ(journalAfter, journalBefore);
    EXPECT_EQ(Run("/undo /yes"), kExitDone);
    EXPECT_EQ(Names(), "COM3 COM4 COM5 COM6 COM7 COM8 ");
    EXPECT_EQ(Errors(), "");
}

TEST_F(LayoutCli, AppliesThePresentCardsAndRefusesWhatItCannotTellApart) {
    Json layout = Layout({Card("USB\\VID_9999", {{1, 40}})});
    layout["cards"].push_back(
        {{"usbId", "USB\\VID_1234&PID_0003"}, {"location", "Hub_3"}, {"ports", {{{"port", 2}, {"number", 30}}}}});
    ModelSetFile(kFile, layout.dump());
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitLayoutCardMissing);
    EXPECT_EQ(Names(), "COM3 COM4 COM5 COM6 COM7 COM30 ");
    EXPECT_TRUE(Contains(Out(), "布局中有1个多串卡不存在")) << Out();
    std::size_t printed = Out().size();
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitLayoutCardMissing);
    EXPECT_TRUE(Contains(Since(printed), "布局中有1个多串卡不存在")) << "held, one card still missing";
    EXPECT_EQ(Run("/check C:\\rig\\layout.json"), kExitPortFailed);
    EXPECT_TRUE(Contains(Out(), "  不存在: USB\\VID_9999, 位置 L ()\n")) << Out();
    printed = Out().size();
    EXPECT_EQ(Run("/check C:\\rig\\layout.json /json"), kExitPortFailed);
    EXPECT_EQ(Json::parse(Since(printed))["missingCards"],
              Json::parse(R"([{"usbId": "USB\\VID_9999", "location": "L", "name": ""}])"));
    ModelSetFile(kFile, Layout({Card("A", {{1, 3}})}).dump() + std::string(1 << 20, ' '));
    EXPECT_EQ(Run("/check C:\\rig\\layout.json"), kExitBadArguments);

    // Bad files and twins: exit 2, the reason on standard error, nothing changed.
    ModelSetFile(kFile, "{\"kestrovaLayout\": 1, \"cards\": [");
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitBadArguments);
    EXPECT_EQ(Run("/check C:\\missing.json"), kExitBadArguments);
    EXPECT_EQ(Errors(),
              "布局无法使用: 布局文件 C:\\rig\\layout.json 太大.\n布局无法使用: "
              "布局文件不是JSON(第33个字节处出错).\n布局无法使用: 布局文件 C:\\missing.json 无法读取.\n");
    UseCards({{.ports = 1, .firstNumber = 3}, {.ports = 1, .firstNumber = 4}}, true);
    Json file = Layout({Card("USB\\VID_1234&PID_0001", {{1, 9}})});
    file["cards"][0]["location"] = "Hub_1";
    ModelSetFile(kFile, file.dump());
    SimClearCalls();
    EXPECT_EQ(Run("/apply C:\\rig\\layout.json /yes"), kExitBadArguments);
    EXPECT_EQ(Run("/export -"), kExitBadArguments);
    EXPECT_EQ(Changes(), 0);
    EXPECT_EQ(Names(), "COM3 COM4 ");
    EXPECT_TRUE(Contains(Errors(), "第1个和第2个多串卡的标识相同")) << Errors();
}

TEST_F(LayoutCli, SpeaksJsonToAConfigurationResource) {
    std::size_t printed = Out().size();
    ASSERT_EQ(Run("/export - /dsc"), kExitDone);
    Json state = Json::parse(Since(printed));
    EXPECT_TRUE(state["_inDesiredState"].is_null());
    state.erase("_inDesiredState");
    state["cards"][2]["ports"][0]["number"] = 1;
    ModelSetStandardInput(state.dump());
    printed = Out().size();
    EXPECT_EQ(Run("/check - /dsc"), kExitDone) << "the answer is in the state";
    Json tested = Json::parse(Since(printed));
    EXPECT_EQ(tested["_inDesiredState"], false);
    ASSERT_EQ(tested["cards"].size(), 3u) << "the layout's cards only";
    EXPECT_EQ(tested["cards"][2]["ports"], Json::parse(R"([{"port": 1, "number": 7}, {"port": 2, "number": 8}])"));
    EXPECT_EQ(tested["cards"][2]["present"], true);

    printed = Out().size();
    EXPECT_EQ(Run("/apply - /yes /dsc"), kExitDone);
    Json set = Json::parse(Since(printed));
    EXPECT_TRUE(set["_inDesiredState"].is_null());
    EXPECT_EQ(set["cards"][2]["ports"][0]["number"], 1);
    EXPECT_EQ(Names(), "COM3 COM4 COM5 COM6 COM1 COM8 ");
    EXPECT_EQ(Errors(), "\r\nPort 3-1:COM7==>COM1: 成功\n") << "the report, out of the state's way";
    EXPECT_EQ(Run("/check - /json /dsc"), kExitBadArguments);
    state["cards"].push_back(Card("USB\\VID_9999", {{1, 50}}));
    ModelSetStandardInput(state.dump());
    printed = Out().size();
    EXPECT_EQ(Run("/apply - /yes /dsc"), kExitLayoutCardMissing);
    EXPECT_EQ(Json::parse(Since(printed))["cards"][3]["present"], false) << "the state, also when a card is missing";
}

TEST_F(LayoutCli, WritesALineACardOnlyToAConsoleSomeoneWatches) {
    EXPECT_EQ(Run("/renumber /all /start COM20 /category all /yes"), kExitDone);
    EXPECT_EQ(Errors(), "");
    ModelSetConsoleInteractive(true);
    ModelRedirectStandardOutput();  // the report to a file, the steps still on the console
    EXPECT_EQ(Run("/renumber /all /start COM30 /category all /yes"), kExitDone);
    EXPECT_EQ(Errors(),
              "第1个多串卡已停用.\n第2个多串卡已停用.\n第3个多串卡已停用.\n第1个多串卡: 2个串口已修改.\n"
              "第2个多串卡: 2个串口已修改.\n第3个多串卡: 2个串口已修改.\n第1个多串卡已启用.\n第2个多串卡已启用.\n"
              "第3个多串卡已启用.\n");
}

TEST_F(LayoutCli, TheDialogExportsAndAppliesThroughTheFileDialogs) {
    OpenMain();
    ModelQueueFilePath("C:\\rig\\dialog.json");
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_EXPORT_LAYOUT, 0), 0);
    std::string text;
    ASSERT_TRUE(ModelFile("C:\\rig\\dialog.json", &text));
    EXPECT_EQ(Json::parse(text)["cards"].size(), 2u) << "the cards listed: USB";
    EXPECT_TRUE(Contains(Log(), "串口号布局已导出到 C:\\rig\\dialog.json.")) << Log();

    Json layout = Json::parse(text);
    layout["cards"][1]["ports"][1]["number"] = 40;
    layout["cards"].push_back(Card("USB\\VID_9999", {{1, 41}}));
    ModelSetFile(kFile, layout.dump());
    ModelQueueFilePath(kFile);
    ModelQueueAnswer(kAnswerYes);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_APPLY_LAYOUT, 0), 0);
    WaitForWorker();
    EXPECT_EQ(BoxTexts().at(0), "按布局文件修改1个串口的串口号(见日志中的预览),是否继续?");
    EXPECT_TRUE(Contains(Log(), "==>COM40")) << Log();
    EXPECT_EQ(SimPortName(1, 1), "COM40");
    EXPECT_TRUE(Contains(Log(), "布局中的多串卡不存在: USB\\VID_9999, 位置 L.")) << Log();
    EXPECT_FALSE(Contains(Log(), "布局中的多串卡不存在: USB\\VID_1234")) << "the first card is there";
    EXPECT_EQ(ModelFileDialogs(), (std::vector<bool>{true, false}));

    ModelSetFile(kFile, "[]");
    ModelQueueFilePath(kFile);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_APPLY_LAYOUT, 0), 0);
    EXPECT_EQ(BoxTexts().at(2), "布局无法使用: 布局文件不是Kestrova布局(缺少 \"kestrovaLayout\").\n");
    EXPECT_EQ(BoxTexts().size(), 3u) << "nothing runs";
}

}  // namespace

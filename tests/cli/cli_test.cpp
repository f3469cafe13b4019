// The command line as an administrator's script meets it: argument parsing,
// exit codes, what is printed and what is changed, the journal file, undo and
// recovery, run whole through RunKestrova on the in-memory platform.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "inventory/devmgr.h"
#include "kestrova_version.h"
#include "renumber/journal.h"
#include "resources/strings.h"
#include "tests/cli/cli_fixture.h"
#include "tests/logic/program_fixture.h"
#include "ui/cli.h"
#include "ui/cli_args.h"
#include "ui/entry.h"

namespace {

// The library's status changes and renames, one a line ("Change(0,-1,1,1000)").
std::string CallLog() {
    std::string text;
    for (int i = 0; i < SimCallCount(); ++i) {
        SimCall call = SimCallAt(i);
        if (call.kind == SimCallKind::change) {
            text += "Change(" + std::to_string(call.card) + "," + std::to_string(call.port) + "," +
                    std::to_string(call.enable) + "," + std::to_string(call.timeMs) + ")\n";
        } else if (call.kind == SimCallKind::modify) {
            text += std::string("Modify(") + call.portName + "," + std::to_string(call.number) + ")\n";
        }
    }
    return text;
}

// Parses a command line as the program gets it.
bool Parse(const char* commandLine, CliOptions& options, std::string* error = nullptr) {
    static ArgumentList list;
    ModelSetArguments(commandLine);
    GetProgramArguments(list);
    const char* arguments[kMaxArguments];
    for (int i = 0; i < list.count; ++i) {
        arguments[i] = list.text[i];
    }
    char text[512];
    bool ok = ParseArguments(arguments, list.count, options, text, sizeof text);
    if (error != nullptr) {
        *error = text;
    }
    return ok;
}

// The options in one line: command, scope card:port, start, flags, plan with
// its masks, category and order.
std::string Describe(const CliOptions& o) {
    char text[160];
    std::snprintf(text, sizeof text, "%d %d %d:%d COM%u %s%s%s %s %04x %04x %d %d", static_cast<int>(o.command),
                  static_cast<int>(o.scope), o.card, o.port, o.start, o.yes ? "y" : "-", o.preview ? "p" : "-",
                  o.json ? "j" : "-", o.hubPlan ? "hub" : "seq", o.upMask, o.downMask, o.category, o.order);
    return text;
}

TEST(CliArguments, ReadsEachCommandWithTheDialogsDefaults) {
    // Defaults: no /start (the dialog's choice), USB cards by position, the
    // hub plan with downstream ports 1-4 on and upstream off.
    const std::pair<const char*, const char*> good[] = {
        {"/renumber /card 2 /start com12 /yes", "2 1 2:0 COM12 y-- seq 0000 800f 1 0"},
        {"-PREVIEW /port 3:4 /plan hub /up 1,8", "2 0 3:4 COM0 -p- hub 8081 800f 1 0"},
        {"/RENUMBER /all /plan hub /down 2 /order ports", "2 2 0:0 COM0 --- hub 0000 8002 1 1"},
        {"/renumber /ALL /start 7 /category PCI", "2 2 0:0 COM7 --- seq 0000 800f 2 0"},
        {"/list /json /category all", "1 1 0:0 COM0 --j seq 0000 800f 0 0"},
        {"/undo /yes", "3 1 0:0 COM0 y-- seq 0000 800f 1 0"},
        {"/?", "0 1 0:0 COM0 --- seq 0000 800f 1 0"},
        {"/Version", "4 1 0:0 COM0 --- seq 0000 800f 1 0"},
    };
    for (const auto& [arguments, expected] : good) {
        CliOptions o;
        std::string error;
        ASSERT_TRUE(Parse(arguments, o, &error)) << expected << ": " << error;
        EXPECT_EQ(Describe(o), expected);
    }
}

TEST(CliArguments, RefusesWhatItDoesNotUnderstand) {
    // clang-format off
    const char* bad[] = {
        "", "/frobnicate", "list", "/list /undo", "/list /list", "/renumber", "/renumber /card", "/renumber /card 0",
        "/renumber /card 65", "/renumber /card 1x", "/renumber /card 1 /all", "/renumber /port 1",
        "/renumber /port 1:65", "/renumber /card 1 /start COM4097", "/renumber /card 1 /start LPT1",
        "/renumber /card 1 /plan zigzag", "/renumber /card 1 /down 1,2", "/renumber /card 1 /plan hub /down 9",
        "/renumber /card 1 /plan hub /down 1,,2", "/renumber /card 1 /plan hub /up 1x", "/renumber /card 1 /plan hub /category pci",
        "/renumber /card 1 /plan hub /up 1 /down off", "/renumber /card 1 /json", "/list /yes", "/list /card 1",
        "/list /preview", "/undo /order ports", "/version /list"};
    // clang-format on
    for (const auto& arguments : bad) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(arguments, o, &error)) << arguments;
        EXPECT_FALSE(error.empty());
    }
    CliOptions o;
    std::string error;
    EXPECT_FALSE(Parse("/list /frobnicate", o, &error));
    EXPECT_EQ(error, "未知参数: /frobnicate") << "what and which";
    EXPECT_FALSE(Parse("/list /undo", o, &error));
    EXPECT_EQ(error, "重复的参数: /undo");
}

// A record as the program frames it: length, checksum, object, line end.
std::string Record(const nlohmann::json& object) {
    std::string text = object.dump();
    char head[32];
    std::snprintf(head, sizeof head, "#%zu %08lx ", text.size(),
                  crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
    return head + text + "\n";
}

std::string readWhy;  // the reason of the last read

bool Read(const std::string& text, Journal& journal) {
    char reason[kJournalReasonSize] = "";
    bool read = JournalFromText(text.data(), text.size(), journal, reason, sizeof reason);
    readWhy = reason;
    return read;
}

TEST(Journal, ReadsBackWhatItWritesAndRefusesTornOrForeignFiles) {
    static char text[kJournalFileSize];
    static Journal read;
    const Journal& written = SampleJournal();
    std::size_t length = JournalToText(written, text, sizeof text);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(JournalToText(written, text, length - 1), 0u) << "a record that does not fit is not written";
    const std::string whole(text, length);
    ASSERT_TRUE(Read(whole, read));
    EXPECT_EQ(JournalText(read), whole) << "every field read back";
    EXPECT_STREQ(read.cards[1].location, "插槽 2");
    EXPECT_EQ(whole, Record(nlohmann::json::parse(whole.substr(whole.find('{'))))) << "framed with its checksum";

    // A step appended after the run's beginning, torn at every byte: until it
    // is whole the run reads as before it.
    const std::string step = Record({{"step", "renamed"}, {"port", 1}});
    for (std::size_t cut = 0; cut <= step.size(); ++cut) {
        ASSERT_TRUE(Read(whole + step.substr(0, cut), read)) << "cut at " << cut;
        ASSERT_EQ(read.ports[1].renamed, cut == step.size()) << "cut at " << cut;
    }
    for (std::size_t cut = 0; cut + 1 < length; ++cut) {
        ASSERT_FALSE(Read(whole.substr(0, cut), read)) << "a first record cut at " << cut;
        ASSERT_EQ(readWhy, kTextJournalUnreadable);
    }
    std::string flipped = whole + step;
    flipped[flipped.size() - 3] ^= 1;
    ASSERT_TRUE(Read(flipped, read));
    EXPECT_FALSE(read.ports[1].renamed) << "a record whose checksum fails was never written";
    EXPECT_TRUE(Read(whole + "# 00000000 \n", read)) << "nor was one without its length";

    nlohmann::json begin = nlohmann::json::parse(whole.substr(whole.find('{')));
    using Change = void (*)(nlohmann::json&);
    const std::pair<const char*, Change> foreign[] = {
        {"version", [](nlohmann::json& j) { j["version"] = 5; }},
        {"a rename as a database change", [](nlohmann::json& j) { j["kind"] = "comdb"; }},
        {"old number 0", [](nlohmann::json& j) { j["ports"][1]["number"] = 0; }},
        {"a port listed twice", [](nlohmann::json& j) { j["ports"][1]["port"] = 0; }},
        {"slot", [](nlohmann::json& j) { j["cards"][0]["slot"] = 64; }},
        {"category", [](nlohmann::json& j) { j["category"] = 4; }},
        {"card", [](nlohmann::json& j) { j["ports"][2]["card"] = 2; }},
        {"port", [](nlohmann::json& j) { j["ports"][2]["port"] = 64; }},
        {"target", [](nlohmann::json& j) { j["ports"][2]["target"] = "22"; }},
        {"state", [](nlohmann::json& j) { j["state"] = "paused"; }},
        {"a key of its own", [](nlohmann::json& j) { j["ports"][0]["x"] = 0; }},
        {"temp", [](nlohmann::json& j) { j["ports"][0]["temp"] = -1; }},
    };
    for (const auto& [what, change] : foreign) {
        nlohmann::json changed = begin;
        change(changed);
        EXPECT_FALSE(Read(Record(changed), read)) << what;
        EXPECT_EQ(readWhy, kTextJournalForeign) << what;
    }
    nlohmann::json third = begin;
    third["version"] = 3;
    EXPECT_TRUE(Read(Record(third), read)) << "a record of version 3 reads";
    for (const nlohmann::json& badStep :
         {nlohmann::json{{"step", "renamed"}, {"port", 3}},
          nlohmann::json{{"step", "temp"}, {"port", 0}, {"number", 0}},
          nlohmann::json{{"step", "enabled"}, {"card", 2}}, nlohmann::json{{"step", "paused"}}}) {
        EXPECT_FALSE(Read(whole + Record(badStep), read)) << badStep.dump();
        EXPECT_EQ(readWhy, kTextJournalForeign) << badStep.dump();
    }
    EXPECT_FALSE(Read(Record({{"step", "finished"}}), read)) << "a step before any run";
    EXPECT_FALSE(Read(whole + Record(nlohmann::json::object()), read)) << "a record of one-digit length";
    EXPECT_EQ(readWhy, kTextJournalForeign);
    nlohmann::json renamedKey = begin;
    renamedKey["ports"][0].erase("temp");
    renamedKey["ports"][0]["tmp"] = 0;
    EXPECT_FALSE(Read(Record(renamedKey), read)) << "a key of its own in place of one of the program's";
    ASSERT_TRUE(Read(whole + Record({{"step", "temp"}, {"port", 2}, {"number", 40}}), read));
    EXPECT_EQ(read.ports[2].temp, 40) << "the last port's step";

    // The previous versions' journals were one document; version 1 had no
    // card slots and no numbers on the way.
    for (int version : {2, 1}) {
        nlohmann::json older = begin;
        older["version"] = version;
        if (version == 1) {
            for (auto& card : older["cards"])
                card.erase("slot");
            for (auto& port : older["ports"])
                port.erase("temp");
        }
        ASSERT_TRUE(Read(older.dump(1, '\t'), read)) << version << ": " << readWhy;
        EXPECT_EQ(read.cards[1].slot, version == 1 ? -1 : 0);
        EXPECT_EQ(read.ports[2].target, 22);
        EXPECT_TRUE(read.ports[0].renamed);
    }
    EXPECT_FALSE(Read(begin.dump(), read)) << "version 3 is records only";
    // A change of the database lists each number once.
    for (std::uint16_t second : {8, 7}) {
        const std::uint16_t numbers[] = {7, second};
        BeginDatabaseJournal(numbers, 2, true);
        EXPECT_EQ(Read(JournalText(runJournal), read), second != 7) << "COM7 and COM" << second;
    }
    // Each number's changed mark; the previous release wrote none.
    nlohmann::json change = nlohmann::json::parse(JournalText(runJournal).substr(JournalText(runJournal).find('{')));
    change["numbers"] = {{{"number", 7}, {"claimed", true}}, {{"number", 8}, {"claimed", true}, {"changed", true}}};
    ASSERT_TRUE(Read(Record(change), read));
    EXPECT_TRUE(read.numbers[1].changed && !read.numbers[0].changed);
    change["numbers"][1]["changed"] = 1;
    EXPECT_FALSE(Read(Record(change), read));
}

// Identical cards (one identity, here an empty one) are told apart by the
// slot the journal names and by their ports; beyond the table's count lie no
// cards, however much they look like an empty identity.
TEST(Journal, IdenticalCardsAreFoundByTheirSlotAndPorts) {
    static DeviceTable table;
    static Journal journal;
    ResetDeviceTable(table);
    table.count = 2;
    table.slots[0].portCount = table.slots[1].portCount = 1;
    std::strcpy(table.slots[0].ports[0].portName, "COM99");
    std::strcpy(table.slots[1].ports[0].portName, "COM40");
    journal = Journal{};
    journal.cardCount = 2;
    journal.cards[0].slot = 5;  // the table has changed since
    journal.cards[1].slot = 0;
    journal.portCount = 2;
    journal.ports[0] = JournalPort{1, 0, 99, 30, false, "COM99", 0};
    journal.ports[1] = JournalPort{0, 0, 3, 20, false, "COM3", 40};
    EXPECT_EQ(FindJournalCard(table, journal, 0), 1) << "the one whose port carries the number on the way";
    EXPECT_EQ(FindJournalCard(table, journal, 1), 0) << "its slot, whose port keeps its old name";
    std::strcpy(table.slots[0].ports[0].portName, "COM40");
    EXPECT_EQ(FindJournalCard(table, journal, 0), kAmbiguousCard);
    table.count = 1;
    journal.cards[1].slot = 7;
    EXPECT_EQ(FindJournalCard(table, journal, 1), 0) << "the one card of its identity";
}

// Undo and recovery read only the ports a journal counts and the ports a card
// reports: a port on a card that is gone, or past its card's last port, is
// left alone, and one on its way through COM1 is put back like any other.
TEST(Journal, PortsTheCardsNoLongerShowAreLeftAlone) {
    static DeviceTable table;
    static Journal journal;
    static RunMapping mapping;
    ResetDeviceTable(table);
    table.count = 1;
    table.slots[0].portCount = 1;
    std::strcpy(table.slots[0].ports[0].portName, "COM1");
    std::strcpy(table.slots[0].ports[1].portName, "COM21");  // left from a card with more ports
    journal = Journal{};
    journal.cardCount = 2;
    std::strcpy(journal.cards[1].usbId, "USB\\VID_9");
    std::strcpy(journal.cards[1].location, "Hub_9");
    journal.portCount = 3;
    journal.ports[0] = JournalPort{1, 0, 5, 25, true, "COM5", 0};
    journal.ports[1] = JournalPort{0, 0, 3, 20, false, "COM3", 1};
    journal.ports[2] = JournalPort{0, 1, 4, 21, false, "COM4", 0};
    journal.ports[3] = JournalPort{1, 1, 6, 26, true, "COM6", 0};  // of a bigger run before
    char leftAlone[256];
    EXPECT_EQ(MapUndo(journal, table, mapping, leftAlone, sizeof leftAlone), 1u);
    EXPECT_STREQ(leftAlone, "USB\\VID_9(Hub_9)P1(COM25),");
    ASSERT_EQ(mapping.count, 1u);
    EXPECT_EQ(mapping.ports[0].target, 3u);
    EXPECT_EQ(MarkChangedPorts(journal, table), 2u) << "the gone card's port and the one on its way";
    EXPECT_FALSE(journal.ports[2].renamed);
    journal.kind = JournalKind::Undo;
    journal.interrupted = true;
    journal.portCount = 1;
    EXPECT_FALSE(IsUnfinishedUndo(journal)) << "an undo cut off after its last rename";
    journal.portCount = 2;
    EXPECT_TRUE(IsUnfinishedUndo(journal));
}

// Keeps the journal as it stands when a card or port is switched back on.
void KeepJournalAtEnable(void* kept, const SimCall& call) {
    if (call.enable == 1) {
        ModelFile(kJournalFile, static_cast<std::string*>(kept));
    }
}

TEST_F(CliTest, RenumbersWithAJournalAndUndoesWhatIsStillAsTheRunLeftIt) {
    EXPECT_EQ(Run("/renumber /card 1 /start COM20 /yes"), kExitDone);
    EXPECT_EQ(Names(), "COM20 COM21 COM5 COM6 ");
    EXPECT_TRUE(Contains(Out(), "==>COM21: 成功\n")) << Out();
    ASSERT_TRUE(ReadJournal());
    EXPECT_TRUE(journal.finished);
    ASSERT_EQ(journal.portCount, 2u);
    EXPECT_TRUE(journal.ports[0].renamed && journal.ports[1].renamed);
    EXPECT_STREQ(journal.cards[0].usbId, "USB\\VID_1234&PID_0001");

    // The second port no longer carries what the run gave it: left alone.
    journal.ports[1].target = 29;
    ModelSetFile(kJournalFile, JournalText(journal));
    EXPECT_EQ(Run("/undo"), kExitDone);
    EXPECT_EQ(Names(), "COM3 COM21 COM5 COM6 ");
    EXPECT_TRUE(Contains(Out(), "1#P2(COM29)")) << Out();
    ASSERT_TRUE(ReadJournal());
    EXPECT_EQ(journal.kind, JournalKind::Undo);
    EXPECT_TRUE(journal.finished);
    EXPECT_FALSE(ModelRunLockOwned());

    // One port, to COM1: its rename is journalled before its port is switched
    // back on, and the journal names its card only.
    std::string midRun;
    SimSetChangeHook(KeepJournalAtEnable, &midRun);
    EXPECT_EQ(Run("/renumber /port 2:1 /start COM1 /yes"), kExitDone);
    SimSetChangeHook(nullptr, nullptr);
    EXPECT_EQ(Names(), "COM3 COM21 COM1 COM6 ");
    EXPECT_TRUE(Contains(midRun, "{\"port\":0,\"step\":\"renamed\"}") && !Contains(midRun, "\"step\":\"finished\""))
        << midRun;
    ASSERT_TRUE(ReadJournal());
    EXPECT_EQ(journal.cardCount, 1u);
    std::size_t printed = Out().size();
    EXPECT_EQ(Run("/undo /yes"), kExitDone);
    EXPECT_EQ(Out().substr(printed), "Port 2-1:COM1==>COM5: 成功\r\n\n") << "the last undo's note is gone";
}

TEST_F(CliTest, ChangesNothingWhenItCannotOrMayNotRun) {
    struct Case {
        const char* arguments;
        void (*setup)();
        int code;
        const char* printed;
    };
    const Case cases[] = {
        {"/renumber /card 1 /start COM20 /yes", [] { ModelSetRunLockHeldElsewhere(true); }, kExitBusy,
         kTextMachineBusy},
        {"/renumber /card 1 /start COM20", [] { ModelComDbSetClaimed(21, true); }, kExitDeclined, kTextNotAnswered},
        {"/undo /yes", [] { ModelSetFile(kJournalFile, "{\"format\": \"kestrova-jour"); }, kExitNothingToDo,
         kTextJournalUnreadable},
        {"/undo", [] {}, kExitNothingToDo, kTextNothingToUndo},
        {"/undo /yes", [] { ModelSetProgramDataFolder(nullptr); }, kExitNothingToDo, kTextJournalNoFolder},
        {"/undo",
         [] {
             // Its renamed port has neither COM20 nor COM9; its second card is gone.
             Journal& finished = SampleJournal();
             finished.ports[0].oldNumber = 9;
             finished.ports[2].renamed = true;
             finished.finished = true;
             ModelSetFile(kJournalFile, JournalText(finished));
         },
         kExitNothingToDo, "未撤销:1#P1(COM20),PCI\\VEN_1A2B(插槽 2)P64(COM22),"},
        {"/renumber /port 2:3 /start COM20", [] {}, kExitNothingToDo, "(共2个)"},
        {"/renumber /card 1 /start COM20 /yes", [] { ModelSetFileWritesFail(true); }, kExitPortFailed,
         kTextJournalNotSaved},
        {"/preview /card 1 /start COM20", [] {}, kExitDone, "==>COM21"},
        {"/preview /port 1:2", [] {}, kExitDone, "Port 1-2:COM4==>COM4"},
        {"/preview /card 1", [] { ModelComDbFailOpen(5); }, kExitNothingToDo, kTextPreviewRefused},
        {"/renumber /card 3 /start COM20 /yes", [] {}, kExitNothingToDo, "没有第3个多串卡(共2个)."},
        {"/renumber /start COM20", [] {}, kExitBadArguments, ""},
    };
    for (const Case& c : cases) {
        SetUp();
        c.setup();
        std::string before;
        ModelFile(kJournalFile, &before);
        EXPECT_EQ(Run(c.arguments), c.code) << c.arguments;
        EXPECT_TRUE(Contains(Out() + ModelConsoleText(true), c.printed)) << c.arguments << "\n" << Out();
        EXPECT_EQ(Names(), "COM3 COM4 COM5 COM6 ") << c.arguments;
        EXPECT_FALSE(Contains(CallLog(), "Modify")) << c.arguments;
        std::string after;
        ModelFile(kJournalFile, &after);
        EXPECT_EQ(after, before) << c.arguments;
        EXPECT_FALSE(ModelRunLockOwned()) << c.arguments;
    }
    EXPECT_TRUE(Contains(ModelConsoleText(true), kTextUsageLine));
}

// For detection rules and inventory scripts: no dialog, so no call into the device library.
TEST_F(CliTest, PrintsTheVersionWithoutTheDialogOrTheLibrary) {
    EXPECT_EQ(Run("/version"), kExitDone);
    EXPECT_EQ(Out(), "Kestrova " KESTROVA_VERSION "\n");
    EXPECT_EQ(SimCallCount(), 0);
}

TEST_F(CliTest, RecoversARunThatEndedHalfWayAndUndoesItsRenamedPorts) {
    UseCards({{.category = "pci", .ports = 2, .firstNumber = 20}});
    // Renamed its first port, then ended before the second and before
    // switching the card back on; its card is listed under PCI, not the
    // USB list the program starts with.
    Journal& open = SampleJournal();
    open.category = kCategoryPci;
    open.cardCount = 1;
    open.portCount = 2;
    open.ports[1].target = 22;
    ModelSetFile(kJournalFile, JournalText(open));

    EXPECT_EQ(Run("/list /category pci"), kExitDone);
    EXPECT_TRUE(Contains(CallLog(), "Change(0,-1,1,")) << CallLog();
    char notice[256];
    std::snprintf(notice, sizeof notice, kTextRecoveredUnattended, 1u);
    EXPECT_EQ(ModelConsoleText(true), notice);
    ASSERT_TRUE(ReadJournal());
    EXPECT_TRUE(journal.finished && journal.interrupted);

    EXPECT_EQ(Run("/undo /yes"), kExitDone);
    EXPECT_EQ(Names(), "COM3 COM21 ") << "the port never reached stays as it is";
}

// Of two identical cards the recovery switches on the one the run switched
// off (or its port), found by its slot and its ports' names, and not its twin.
TEST_F(CliTest, RecoverySwitchesOnTheCardOfTheRunAndNotItsTwin) {
    for (bool portOnly : {false, true}) {
        UseCards({{.ports = 2, .firstNumber = 5}, {.ports = 2, .firstNumber = 20}}, true);
        Journal& open = SampleJournal();
        open.category = kCategoryUsb;
        open.cardCount = 1;
        open.portCount = portOnly ? 1 : 2;
        open.portOnly = portOnly;
        ModelSetFile(kJournalFile, JournalText(open));
        EXPECT_EQ(Run("/list"), kExitDone);
        EXPECT_TRUE(Contains(CallLog(), portOnly ? "Change(1,0,1," : "Change(1,-1,1,")) << CallLog();
        EXPECT_FALSE(Contains(CallLog(), "Change(0,")) << CallLog();
    }
}

// /list, /list /json and /list /claims /json: every listed card once, each port's number with
// whether the COM database holds it.
TEST_F(CliTest, ListsTheCardsWithTheirNumbersAndClaims) {
    ModelComDbSetClaimed(4, true);
    EXPECT_EQ(Run("/list"), kExitDone);
    EXPECT_EQ(Out(),
              " 1#[T2]:Test card 1\n   PortCnt:2 | USBID:USB\\VID_1234&PID_0001 | Vendor:Vendor1 | Location(1):Hub_1\n"
              "   1/2# [CDC]: Port 1-1  COM3 (3) 未分配\n   2/2# [VCP]: Port 1-2  COM4 (4) 已分配\n"
              " 2#[T2]:Test card 2\n   PortCnt:2 | USBID:USB\\VID_1234&PID_0002 | Vendor:Vendor2 | Location(2):Hub_2\n"
              "   1/2# [CDC]: Port 2-1  COM5 (5) 未分配\n   2/2# [VCP]: Port 2-2  COM6 (6) 未分配\n")
        << "every card with its status line and ports, nothing after the last";
    UseCards({{.ports = 2, .firstNumber = 3, .name = "测试卡"}, {.ports = 2, .firstNumber = 5}});
    std::size_t printed = Out().size();
    EXPECT_EQ(Run("/list /json"), kExitDone);
    EXPECT_TRUE(Contains(Out().substr(printed), "\n      \"name\": \"测试卡 1\"")) << "UTF-8 as it is, not escaped";
    nlohmann::json list = nlohmann::json::parse(Out().substr(printed));
    ASSERT_EQ(list["cards"].size(), 2u);
    EXPECT_EQ(list["cards"][0]["ports"].size(), 2u);
    EXPECT_EQ(list["cards"][0]["singlePort"], false);
    EXPECT_EQ(list["cards"][0]["ports"][1]["claimed"], true);
    EXPECT_EQ(list["cards"][1]["ports"][0]["number"], 5);
    // The claims with their holders, for scripts.
    ModelComDbSetSize(1024);
    ModelComDbSetClaimed(30, true);
    printed = Out().size();
    EXPECT_EQ(Run("/list /claims /json"), kExitDone);
    nlohmann::json claims = nlohmann::json::parse(Out().substr(printed));
    EXPECT_EQ(claims["databaseSize"], 1024);
    ASSERT_EQ(claims["claims"].size(), 2u);
    const nlohmann::json& card = claims["claims"][0];
    EXPECT_TRUE(card["holder"] == "card" && card["card"] == 1 && card["port"] == 2) << card.dump();
    EXPECT_TRUE(claims["claims"][1]["holder"] == "none" && claims["claims"][1]["stale"] == true);
}

// What the console says at start is what happened: a card not found, an
// undo ended half-way or whole, a journal that cannot be used.
TEST_F(CliTest, TheRecoveryLineSaysWhatReallyHappened) {
    UseCards({{.ports = 2, .firstNumber = 20}});
    char notice[512];
    // Its second card is not there; its second port carries its target,
    // COM21, though its record was not written.
    Journal& open = SampleJournal();
    ModelSetFile(kJournalFile, JournalText(open));
    EXPECT_EQ(Run("/list"), kExitDone);
    std::snprintf(notice, sizeof notice, kTextRecoveredCardsMissing, 1u, 2u);
    EXPECT_EQ(ModelConsoleText(true), notice);

    for (bool whole : {false, true}) {
        SetUp();
        UseCards({{.ports = 2, .firstNumber = 20}});
        Journal& undo = SampleJournal();
        undo.kind = JournalKind::Undo;
        undo.cardCount = 1;
        undo.portCount = whole ? 1 : 2;
        undo.ports[1].target = 29;
        ModelSetFile(kJournalFile, JournalText(undo));
        EXPECT_EQ(Run("/list"), kExitDone);
        std::snprintf(notice, sizeof notice, whole ? kTextRecoveredUndoComplete : kTextRecoveredUndoUnattended, 1u);
        EXPECT_EQ(ModelConsoleText(true), notice) << whole;
    }

    SetUp();
    ModelSetFile(kJournalFile, "#5 00000000 {}}}}\n");
    EXPECT_EQ(Run("/list"), kExitDone);
    std::snprintf(notice, sizeof notice, kTextJournalRefusedAtStart, kTextJournalUnreadable);
    EXPECT_EQ(ModelConsoleText(true), notice);
}

TEST_F(CliTest, ThirtyTwoBitCopyHandsTheWholeCommandLineOverAndReturnsItsCode) {
    ModelSetWow64(1);
    ModelSetCurrentFolder("D:\\我的 程序");
    ModelSetProgramExitCode(3);
    EXPECT_EQ(Run("/renumber /card \"1\" /yes"), 3);
    EXPECT_EQ(ModelRunCommands(),
              std::vector<std::string>{"\"D:\\我的 程序\\X64\\Kestrova_X64.EXE\" /renumber /card \"1\" /yes"});
    ModelSetRunResult(2);
    EXPECT_EQ(Run("/list"), kExitHandOverFailed);
    EXPECT_EQ(ModelConsoleText(true), std::string(kTextStartFailed) + "\n");
    EXPECT_EQ(ModelBoxCount(), 0);
    ModelSetRunResult(32);
    EXPECT_EQ(Run(""), 0);
    EXPECT_EQ(ModelRunCommands().back(), "\"D:\\我的 程序\\X64\\Kestrova_X64.EXE\"") << "no arguments left over";
}

}  // namespace

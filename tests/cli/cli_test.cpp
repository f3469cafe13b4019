// The command line as an administrator's script meets it: argument parsing,
// exit codes, what is printed and what is changed, the journal file, undo and
// recovery, run whole through RunKestrova on the in-memory platform.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "inventory/devmgr.h"
#include "kestrova_version.h"
#include "renumber/journal.h"
#include "resources/strings.h"
#include "tests/logic/program_fixture.h"
#include "ui/cli.h"

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
        {"/renumber /all /start 7 /category pci", "2 2 0:0 COM7 --- seq 0000 800f 2 0"},
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
        "/renumber /port 1:65", "/renumber /card 1 /start COM257", "/renumber /card 1 /start LPT1",
        "/renumber /card 1 /plan zigzag", "/renumber /card 1 /down 1,2", "/renumber /card 1 /plan hub /down 9",
        "/renumber /card 1 /plan hub /down 1,,2", "/renumber /card 1 /plan hub /category pci",
        "/renumber /card 1 /plan hub /up 1 /down off", "/renumber /card 1 /json", "/list /yes", "/list /card 1",
        "/list /preview", "/undo /order ports", "/version /list"};
    // clang-format on
    for (const auto& arguments : bad) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(Parse(arguments, o, &error)) << arguments;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Journal, ReadsBackWhatItWritesAndRefusesTornOrForeignFiles) {
    static char text[kJournalFileSize];
    static Journal read;
    const Journal& written = SampleJournal();
    std::size_t length = JournalToText(written, text, sizeof text);
    ASSERT_GT(length, 0u);
    char reason[kJournalReasonSize];
    ASSERT_TRUE(JournalFromText(text, length, read, reason, sizeof reason)) << reason;
    EXPECT_EQ(JournalText(read), std::string(text, length)) << "every field read back";
    EXPECT_STREQ(read.cards[1].location, "插槽 2");
    EXPECT_TRUE(Contains(text, "\"renamed\": true") && Contains(text, "\"port\": 63") && Contains(text, "COM300"));
    // Cut anywhere before its last line break: a file torn while written.
    for (std::size_t cut = 0; cut + 1 < length; ++cut) {
        ASSERT_FALSE(JournalFromText(text, cut, read, reason, sizeof reason)) << "cut at " << cut;
        ASSERT_STREQ(reason, kTextJournalUnreadable);
    }
    const std::string whole(text, length);
    const std::vector<std::pair<std::string, std::string>> foreign = {
        {"\"version\": 1", "\"version\": 2"},
        {"\"category\": 0", "\"category\": 4"},
        {"\"card\": 1", "\"card\": 2"},
        {"\"port\": 63", "\"port\": 64"},
        {"\"target\": 22", "\"target\": \"22\""},
        {"\"state\": \"running\"", "\"state\": \"paused\""},
        {"\"renamed\": true", "\"renamed\": true, \"x\": 0"},
    };
    for (const auto& [from, to] : foreign) {
        std::string changed = whole;
        std::size_t at = changed.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        changed.replace(at, from.size(), to);
        EXPECT_FALSE(JournalFromText(changed.data(), changed.size(), read, reason, sizeof reason)) << to;
        EXPECT_STREQ(reason, kTextJournalForeign) << to;
    }
}

// Keeps the journal as it stands when a card or port is switched back on.
void KeepJournalAtEnable(void* kept, const SimCall& call) {
    if (call.enable == 1) {
        ModelFile(kJournalFile, static_cast<std::string*>(kept));
    }
}

class CliTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        ModelResetMachine();
        UseCards({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
    }
    // A cards file, which keeps the renames after the library is closed.
    void UseCards(std::initializer_list<CardSpec> cards) {
        std::ofstream(cardsFile) << CardsJson(cards);
        SimUseCardsFile(cardsFile.c_str());
    }
    int Run(const char* arguments) {
        ModelSetArguments(arguments);
        int code = RunKestrova();
        mainDialog = nullptr;
        return code;
    }
    std::string Out() { return ModelConsoleText(false); }
    std::string Names() {
        std::string names;
        nlohmann::json cards = nlohmann::json::parse(std::ifstream(cardsFile));
        for (const auto& card : cards["cards"]) {
            for (const auto& port : card["ports"]) {
                names += port["name"].get<std::string>() + " ";
            }
        }
        return names;
    }
    bool ReadJournal() {
        std::string text;
        char reason[kJournalReasonSize];
        return ModelFile(kJournalFile, &text) &&
               JournalFromText(text.data(), text.size(), journal, reason, sizeof reason);
    }
    static inline Journal journal;
    std::string cardsFile = testing::TempDir() + "cli_test_cards.json";
};

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
    EXPECT_TRUE(Contains(midRun, "\"renamed\": true") && Contains(midRun, "\"state\": \"running\"")) << midRun;
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
        {"/undo",
         [] {
             Journal& finished = SampleJournal();  // its one renamed port no longer has COM20
             finished.finished = true;
             ModelSetFile(kJournalFile, JournalText(finished));
         },
         kExitNothingToDo, "未撤销:1#P1(COM20)"},
        {"/renumber /port 2:3 /start COM20", [] {}, kExitNothingToDo, "(共2个)"},
        {"/renumber /card 1 /start COM20 /yes", [] { ModelSetFileWritesFail(true); }, kExitPortFailed,
         kTextJournalNotSaved},
        {"/preview /card 1 /start COM20", [] {}, kExitDone, "==>COM21"},
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

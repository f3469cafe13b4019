// Who holds the claimed COM numbers, the release of stale claims, the
// journalled changes of the COM database and their undo, and databases
// bigger than 256 numbers.
#include "inventory/devmgr.h"
#include "program_fixture.h"
#include "renumber/claims.h"
#include "renumber/usage_change.h"
#include "resources/strings.h"

namespace {

class ClaimsTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        InstallReporter(&reporter);
        ASSERT_TRUE(EnsureComDbOpen());
    }
    // A USB card at COM3-COM4 and a PCI card at COM10; the system's sources
    // name COM7 and COM8 as present ports and COM12 as a device away now.
    void MachineWithPorts() {
        LoadCards({{"usb", 2, 3}, {"pci", 1, 10}});
        ModelAddSerialMapValue("\\Device\\Serial6", "COM7");
        ModelAddSerialMapValue("\\Device\\Serial2", "COM3");  // a card's port: the card holds it
        ModelAddSerialMapValue("\\Device\\Lpt0", "LPT1");
        ModelAddSerialMapValue("\\Device\\Serial8", "COM05");
        ModelAddDosPortName("COM8", "\\Device\\Serial7");
        ModelAddDosPortName("COM7", "\\Device\\Other");  // the map named it first
        ModelAddPortsClassDevice("FTDIBUS\\VID_0403+A1\\0000", "COM12", false);
        ModelAddPortsClassDevice("ACPI\\PNP0501\\1", "COM8", false);  // absent, yet present by the DOS name
        ModelAddPortsClassDevice("PCI\\OLD", "COM9", false);
        ModelAddPortsClassDevice("PCI\\NEW", "COM9", true);  // the present one ranks higher
        ModelAddSerialMapValue("\\Device\\Serial9", "COM65535");
        ModelAddSerialMapValue("\\Device\\Serial5", "COM25");
    }
    static void Claim(std::initializer_list<unsigned> numbers) {
        for (unsigned n : numbers) {
            ModelComDbSetClaimed(n, true);
        }
    }
    static std::string Claimed(unsigned last) {
        std::string list;
        for (unsigned n = 1; n <= last; ++n) {
            if (ModelComDbIsClaimed(n)) {
                list += std::to_string(n) + " ";
            }
        }
        return list;
    }

    TestReporter reporter;
    DeviceTable cards;
    HolderTable holders;
};

TEST_F(ClaimsTest, EachNumberHasTheHolderOfTheHighestRankingSource) {
    ClassifyMachine(cards, holders);
    EXPECT_TRUE(IsStaleClaim(holders, 3)) << "COM3 is the first number not the system's";
    EXPECT_FALSE(IsStaleClaim(holders, 2));
    Claim({3});
    WriteClaims(holders);
    EXPECT_TRUE(Contains(reporter.Output(), "COM3: 已分配, 无设备使用,可释放\r\n"));
    MachineWithPorts();
    ClassifyMachine(cards, holders);
    struct Case {
        unsigned number;
        const char* word;
        const char* device;
        bool stale;
    };
    // clang-format off
    const Case cases[] = {
        {3, "card", "Port 1-1", false}, {4, "card", "Port 1-2", false},
        {10, "card", "Port 2-1", false}, {7, "present", "\\Device\\Serial6", false},
        {8, "present", "\\Device\\Serial7", false}, {12, "absent", "FTDIBUS\\VID_0403+A1\\0000", false},
        {5, "none", "", true}, {2, "none", "", false},
        {1, "none", "", false}, {9, "present", "PCI\\NEW", false},
        {25, "present", "\\Device\\Serial5", false}, {65535, "present", "\\Device\\Serial9", false}
    };
    // clang-format on
    for (const Case& c : cases) {
        const NumberHolder* holder = HolderOf(holders, c.number);
        EXPECT_STREQ(HolderWord(holder != nullptr ? holder->holder : Holder::None), c.word) << c.number;
        EXPECT_STREQ(holder != nullptr ? holder->device : "", c.device) << c.number;
        EXPECT_EQ(IsStaleClaim(holders, c.number), c.stale) << c.number;
    }
    const NumberHolder* pci = HolderOf(holders, 10);
    ASSERT_NE(pci, nullptr);
    EXPECT_EQ(pci->card, 1u) << "cards of every category, in the order of the listing of all";
    EXPECT_EQ(pci->port, 0u);
    EXPECT_EQ(holders.count, 9u) << "LPT1 and COM05 name no number; duplicates count once";
    EXPECT_FALSE(holders.overflow);
    // Classified again after the cards changed: COM4 is nobody's now.
    LoadCards({{"usb", 1, 20}});
    ClassifyMachine(cards, holders);
    EXPECT_EQ(HolderOf(holders, 4), nullptr);
    EXPECT_TRUE(IsStaleClaim(holders, 4));
    ASSERT_NE(HolderOf(holders, 20), nullptr);
    EXPECT_EQ(HolderOf(holders, 20)->holder, Holder::Card);
    // A record's names past its port count are no ports of the card.
    std::snprintf(cards.slots[0].ports[1].portName, sizeof cards.slots[0].ports[1].portName, "COM21");
    ClassifyHolders(cards, holders);
    EXPECT_EQ(HolderOf(holders, 21), nullptr);
}

TEST_F(ClaimsTest, MorePortsThanTheTableHoldsAreSaidToBeLeftOut) {
    char name[16];
    // A source as big as the table may hold more, even of names that are no numbers.
    for (unsigned n = 0; n < kMaxHolders; ++n) {
        std::snprintf(name, sizeof name, "LPT%u", n + 1);
        ModelAddSerialMapValue("\\Device\\Parallel", name);
    }
    ClassifyMachine(cards, holders);
    EXPECT_EQ(holders.count, 0u);
    EXPECT_TRUE(holders.overflow);
    ModelReset();
    ASSERT_TRUE(EnsureComDbOpen());
    LoadCards({{"usb", 3, 3}});
    for (unsigned n = 0; n + 2 < kMaxHolders; ++n) {
        std::snprintf(name, sizeof name, "COM%u", n + 100);
        ModelAddSerialMapValue("\\Device\\Serial", name);
    }
    ClassifyMachine(cards, holders);
    EXPECT_EQ(holders.count, kMaxHolders);
    EXPECT_TRUE(holders.overflow) << "the table filled before the source ended";
    WriteClaims(holders);
    EXPECT_TRUE(Contains(reporter.Output(), "(本机串口过多,只列出了前2048个)\r\n"));
}

TEST_F(ClaimsTest, StaleClaimsAreListedAskedForReleasedAndUndoneWithoutTouchingACard) {
    ShowClaims();
    EXPECT_EQ(reporter.Output(),
              "***COM数据库中已分配的串口号(数据库共256个号码):\r\n(无)\r\n"
              "***有串口使用但COM数据库中未分配的串口号:\r\n(无)\r\n")
        << "with no card and nothing claimed";
    reporter.Clear();
    MachineWithPorts();
    Claim({1, 2, 3, 4, 7, 10, 12, 30, 31, 300, 4096});
    ShowClaims();
    const std::string& shown = reporter.Output();
    EXPECT_TRUE(Contains(
        shown, "***COM数据库中已分配的串口号(数据库共4096个号码):\r\nCOM1: 已分配, 无设备使用,系统保留号,不释放\r\n"));
    EXPECT_TRUE(Contains(shown, "COM2: 已分配, 无设备使用,系统保留号,不释放\r\n"));
    EXPECT_TRUE(Contains(shown, "COM10: 已分配, 多串卡2#P1(Port 2-1)\r\n"));
    EXPECT_TRUE(Contains(shown, "COM12: 已分配, 当前不在的设备(FTDIBUS\\VID_0403+A1\\0000),返回时将再用此号,保留\r\n"));
    EXPECT_TRUE(Contains(shown, "COM30: 已分配, 无设备使用,可释放\r\n"));
    EXPECT_TRUE(Contains(shown, "COM4096: 已分配, 无设备使用,可释放\r\n***有串口使用但COM数据库中未分配的串口号:\r\n"));
    EXPECT_TRUE(Contains(shown, "COM8: 未分配, 本机串口(\\Device\\Serial7)\r\n"));
    EXPECT_TRUE(Contains(shown, "COM65535: 未分配, 本机串口(\\Device\\Serial9)\r\n"));
    EXPECT_FALSE(Contains(shown, "COM12: 未分配")) << "an absent device's number is no present port";
    EXPECT_FALSE(Contains(shown, "(无)"));

    ModelAddPortsClassDevice("ACPI\\PNP0501\\0", "COM1", false);  // away, with the first number
    EXPECT_EQ(ReleaseStaleHere(true), RunOutcome::Done);
    EXPECT_TRUE(Contains(reporter.Output(), "COM30,COM31,COM300,COM4096,"));
    reporter.Answer(false);
    EXPECT_EQ(ReleaseStaleHere(false), RunOutcome::Declined);
    ASSERT_EQ(reporter.Events("ask:").size(), 1u);
    EXPECT_EQ(reporter.Events("ask:")[0],
              "以下串口号在COM数据库中已分配,但本机没有任何串口使用它们:\nCOM30,COM31,COM300,COM4096,\n"
              "是否将它们设为<未使用/空闲>状态?\n以下号码属于当前不在、返回时会再用其号码的设备,保留不变:COM1,COM12,")
        << "the absent device's number is kept";
    EXPECT_TRUE(Contains(reporter.Log(), "无设备使用的已分配串口号:COM30,COM31,COM300,COM4096,"));
    EXPECT_TRUE(Contains(reporter.Log(), "操作取消"));
    EXPECT_EQ(Claimed(4096), "1 2 3 4 7 10 12 30 31 300 4096 ");
    EXPECT_FALSE(ModelFile(kJournalFile, nullptr)) << "nothing changed, nothing journalled";
    ModelSetRunLockHeldElsewhere(true);
    EXPECT_EQ(ReleaseStaleHere(false), RunOutcome::Busy);
    EXPECT_EQ(reporter.Events("tell:").back(), kTextMachineBusy);
    ModelSetRunLockHeldElsewhere(false);

    SimClearCalls();
    EXPECT_EQ(ReleaseStaleHere(false), RunOutcome::Done);
    EXPECT_FALSE(ModelRunLockOwned());
    EXPECT_EQ(Claimed(4096), "1 2 3 4 7 10 12 ");
    EXPECT_TRUE(Contains(reporter.Events("tell:").back(),
                         "COM30,COM31,COM300,COM4096,\n****共4个串口状态，声明为[未使用]****"));
    EXPECT_EQ(ReleaseStaleHere(false), RunOutcome::Done);
    EXPECT_EQ(reporter.Events("tell:").back(), kTextNoStaleClaims);

    // Another program claims COM31 again before the undo: left alone, named.
    ModelComDbSetClaimed(31, true);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(Claimed(4096), "1 2 3 4 7 10 12 30 31 300 4096 ");
    EXPECT_EQ(reporter.Events("tell:").back(),
              "COM30,COM300,COM4096,\n****共3个串口状态，声明为[使用中]****\n"
              "以下串口号在上次修改之后已被其他程序改变,未撤销:COM31,");
    for (int i = 0; i < SimCallCount(); ++i) {
        EXPECT_EQ(SimCallAt(i).kind, SimCallKind::enumerate) << "no card is switched off or renamed";
    }
    // The undo is itself a change: undone in turn, it frees what it claimed.
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(Claimed(4096), "1 2 3 4 7 10 12 31 ");
    Claim({30, 300, 4096});  // all of it changed back by another program
    EXPECT_EQ(UndoHere(), RunOutcome::NothingToDo);
    EXPECT_EQ(
        reporter.Events("tell:").back(),
        std::string(kTextNothingToUndo) + "\n以下串口号在上次修改之后已被其他程序改变,未撤销:COM30,COM300,COM4096,");
    EXPECT_TRUE(Contains(reporter.Log(), "撤销上次COM数据库修改:0个串口号..."));
}

TEST_F(ClaimsTest, UsageRangesAreJournalledAndAnInterruptedChangeIsRecoveredAndUndone) {
    Claim({5, 7});
    PortUsageBits before;
    ReadPortUsage(before);
    reporter.Answer(true);
    EXPECT_EQ(ChangeUsageRange(true, 2, 8), 1);
    EXPECT_EQ(Claimed(20), "");
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    PortUsageBits after;
    ReadPortUsage(after);
    EXPECT_EQ(before, after) << "the undo of a range release puts the bitmap back bit for bit";
    EXPECT_EQ(ChangeUsageRange(false, 2, 3), 1);
    EXPECT_EQ(Claimed(20), "3 4 5 7 ");
    int category = 0;
    EXPECT_FALSE(LastRunCategory(&category)) << "a change of the database lists no category";
    // A rename that fails without changing anything leaves the claim the change to undo.
    LoadCards({{"usb", 1, 30}});
    ListCards(kCategoryUsb, kOrderByPosition);
    ASSERT_TRUE(SimSetFailRename(0, 0, true));
    EXPECT_EQ(
        RenameHere(MakeRunRequest(RenameScope::SelectedPort, 0, 0, 39, false, 0, 0, kCategoryUsb, kOrderByPosition)),
        RunOutcome::PortFailed);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(Claimed(20), "5 7 ");
    EXPECT_EQ(ChangeUsageRange(false, 9, 9), 1);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(Claimed(20), "5 7 ") << "a claim of one number undone frees it";
    for (auto [from, to] : {std::pair{2, 256}, std::pair{256, 2}}) {
        EXPECT_EQ(ChangeUsageRange(false, from, to), 0);
        EXPECT_EQ(reporter.Events("tell:").back(), kTextChooseRange) << "no row " << from << " to " << to;
    }

    // A change whose journal cannot be written does not start; one whose
    // journal stops taking steps stops there.
    ModelSetFileWritesFail(true);
    EXPECT_EQ(ChangeUsageRange(false, 10, 12), 0);
    EXPECT_EQ(reporter.Events("tell:").back(), kTextJournalNotSaved);
    EXPECT_EQ(Claimed(20), "5 7 ");
    ModelFailFileWritesAfter(2);
    EXPECT_EQ(ChangeUsageRange(false, 10, 12), 0);
    EXPECT_EQ(Claimed(20), "5 7 11 12 ");
    EXPECT_TRUE(Contains(reporter.Events("tell:").back(), kTextJournalStopped));
    ModelSetFileWritesFail(false);
    ModelComDbSetClaimed(11, false);
    ModelComDbSetClaimed(12, false);

    // A release of COM5 and COM7 that ended after it changed COM7 only.
    const std::uint16_t numbers[] = {5, 7};
    BeginDatabaseJournal(numbers, 2, true);
    ASSERT_TRUE(StartJournal(runJournal));
    ModelComDbSetClaimed(7, false);
    ASSERT_TRUE(WriteJournalStep(JournalStep::Changed, 1, 0));
    Recovery recovery;
    ASSERT_TRUE(RecoverInterruptedRun(recovery));
    EXPECT_TRUE(recovery.database);
    EXPECT_TRUE(Contains(reporter.Log(), kLogRecoveryClosed));
    EXPECT_EQ(recovery.ports, 2u);
    EXPECT_EQ(recovery.renamed, 1u);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(Claimed(20), "5 7 ");
    Journal journal;
    char reason[kJournalReasonSize];
    ASSERT_EQ(LoadJournal(journal, reason, sizeof reason), JournalLoad::Loaded);
    EXPECT_EQ(journal.kind, JournalKind::Database);
    ASSERT_EQ(journal.numberCount, 1u) << "the undo changes only what the change had changed";
    EXPECT_EQ(journal.numbers[0].number, 7u);
    EXPECT_FALSE(journal.numbers[0].claimed);
    EXPECT_TRUE(journal.numbers[0].changed && journal.finished);
}

TEST_F(ClaimsTest, TheClaimedTestReachesAsFarAsTheDatabase) {
    Claim({300, 1100});  // grows the database to 2048 numbers
    EXPECT_EQ(ModelComDbSize(), 2048u);
    EXPECT_EQ(IsPortNumberClaimed(300), 1);
    EXPECT_EQ(IsPortNumberClaimed(1100), 1);
    ModelComDbSetSize(1024);
    EXPECT_EQ(IsPortNumberClaimed(300), 1);
    EXPECT_EQ(IsPortNumberClaimed(1100), 0) << "past the database's end a number is free";
    EXPECT_EQ(IsPortNumberClaimed(4097), 0);
    PortUsageBits bits;
    ReadPortUsage(bits);
    EXPECT_EQ(bits[299 / 8], 1u << (299 % 8));
}

}  // namespace

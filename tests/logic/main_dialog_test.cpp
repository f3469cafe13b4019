// The main dialog: start-up state, commands, program entry. Device changes are
// in rename_run_test, beside the run that makes them wait.
#include "ui/main_dialog.h"

#include "inventory/devmgr.h"
#include "program_fixture.h"
#include "resources/strings.h"
#include "services/log.h"
#include "ui/entry.h"

namespace {

using MainDialogTest = ProgramTest;

TEST_F(MainDialogTest, StartUpState) {
    LoadCards({{.ports = 4, .firstNumber = 7}});
    const std::string windows = "C:\\" + std::string(1020, 'w');  // the longest folder the program takes
    ModelSetWindowsFolder(windows.c_str());
    ModelAddFolder((windows + "\\SysWOW64").c_str());
    ModelSetFile(kJournalFile, "{\"format\"");  // torn: reported, and the start goes on
    OpenMain();

    std::string text;
    ModelWindowTitle(dialog, &text);
    EXPECT_EQ(text, "Kestrova V120(X64)");
    EXPECT_EQ(ModelWindowIcon(dialog), IDI_KESTROVA);
    EXPECT_EQ(ComboGetCount(dialog, IDC_CATEGORY), 4);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_CATEGORY), 1);
    ModelComboRow(dialog, IDC_CATEGORY, 3, &text);
    EXPECT_EQ(text, "TAV UART Category:  BLE/Ethernet To UART");
    EXPECT_EQ(ListedCategory(), 1);
    ModelComboRow(dialog, IDC_ORDER, 1, &text);
    EXPECT_EQ(text, "按转串口数排列");
    EXPECT_EQ(ComboGetSelection(dialog, IDC_ORDER), 0);
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_PLAN_HUB));
    for (int id : {IDC_HUB_UP, IDC_HUB_DOWN, IDC_UP_PORT1, IDC_DOWN_PORT4, IDC_DOWN_PORT8}) {
        EXPECT_FALSE(IsControlEnabled(dialog, id)) << id;
    }
    for (int id : {IDC_HUB_DOWN, IDC_DOWN_PORT4, IDC_SCOPE_CARD, IDC_PLAN_SEQUENTIAL}) {
        EXPECT_TRUE(IsButtonChecked(dialog, id)) << id;
    }
    for (int id : {IDC_HUB_UP, IDC_DOWN_PORT5, IDC_SCOPE_PORT, IDC_PLAN_HUB}) {
        EXPECT_FALSE(IsButtonChecked(dialog, id)) << id;
    }
    EXPECT_EQ(ModelEditLimit(dialog, IDC_LOG), 0x7FFFFFFEu);
    EXPECT_FALSE(Contains(Log(), "DBOpen")) << "an open that works logs nothing";
    EXPECT_TRUE(Contains(Log(), ">> 修改记录无法使用:")) << Log();
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), 0);
    EXPECT_EQ(ModelUsbRegistrations(), 1);
    EXPECT_EQ(ModelUsbRegisteredWindow(), dialog);
    EXPECT_EQ(ModelComDbOpenCount(), 2) << "once by the start list, once more by the dialog";
    ASSERT_GE(SimCallCount(), 2);
    EXPECT_EQ(SimCallAt(0).kind, SimCallKind::init) << "the library is initialised before the first enumeration";
    EXPECT_EQ(SimCallAt(1).kind, SimCallKind::enumerate);
}

// A run that ended half-way on a PCI card is mended at start: the card back
// on, the log saying so, undo offered (declined). Undo from the menu later
// finds the card in its category again and leaves alone a port changed since.
TEST_F(MainDialogTest, AnInterruptedRunIsMendedAtStartAndUndoneFromTheMenu) {
    Journal& open = SampleJournal();
    open.category = kCategoryPci;
    open.cardCount = 1;
    open.portCount = 2;
    open.ports[1] = JournalPort{0, 1, 4, 22, true, "COM4", 0};  // the card's port is COM21
    ModelSetFile(kJournalFile, JournalText(open));
    ModelQueueAnswer(kAnswerNo);
    OpenMain({{.category = "pci", .ports = 2, .firstNumber = 20}});
    EXPECT_TRUE(Contains(Log(), ">> 发现上次未完成的串口号修改:共2个串口,已修改2个.\r\n"));
    EXPECT_TRUE(Contains(Log(), ">> 已重新启用上次修改停用的多串卡1#[USB\\VID_1234&PID_0001][Hub_1].\r\n"));
    EXPECT_TRUE(Contains(Log(), std::string(">> ") + kLogRecoveryClosed));
    EXPECT_TRUE(SimCardEnabled(0));
    ASSERT_EQ(BoxTexts().size(), 1u);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_CATEGORY), 2) << "the cards of the interrupted run are listed";

    SelectCombo(IDC_CATEGORY, 1);
    EditSetText(dialog, IDC_LOG, "");
    ModelQueueAnswer(kAnswerOk);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_UNDO, 0), 0);
    WaitForWorker();
    EXPECT_EQ(ComboGetSelection(dialog, IDC_CATEGORY), 2);
    EXPECT_EQ(SimPortNumber(0, 0), 3u);
    EXPECT_EQ(SimPortNumber(0, 1), 21u);
    EXPECT_TRUE(Contains(Log(), ">> 以下串口的串口号在上次修改之后已被改变,未撤销:1#P2(COM22),\r\n\r\n")) << Log();
    EXPECT_TRUE(Contains(Log(), ">> 撤销上次修改:1个串口...\n\r\n"));
}

TEST_F(MainDialogTest, ARunThatEndedAfterItsFirstRenameOffersItsUndo) {
    Journal& open = SampleJournal();
    open.cardCount = 1;
    open.portCount = 1;
    ModelSetFile(kJournalFile, JournalText(open));
    ModelQueueAnswer(kAnswerNo);
    OpenMain({{.ports = 2, .firstNumber = 20}});
    EXPECT_EQ(BoxTexts().size(), 1u);
}

TEST_F(MainDialogTest, ARunThatEndedBeforeItsFirstRenameOffersNoUndo) {
    Journal& open = SampleJournal();
    open.ports[0].renamed = false;
    open.category = kCategoryUsb;
    ModelSetFile(kJournalFile, JournalText(open));
    OpenMain({{.ports = 2}});
    EXPECT_TRUE(Contains(Log(), "已修改0个.")) << Log();
    EXPECT_EQ(ModelBoxCount(), 0);
    EXPECT_EQ(SimCallAt(SimCallCount() - 1).kind, SimCallKind::enumerate) << "listed again once the cards are on";
}

// A big rig's tree summary takes the log edit a good part of a second, so the
// start's log text waits until the window is shown with its lists, then goes
// in a piece at a time, each ending at a line end, in order, with what is
// logged meanwhile behind it.
TEST_F(MainDialogTest, TheStartsLogTextGoesInPiecesOnceTheWindowIsShown) {
    LoadCards(std::vector<CardSpec>(16, CardSpec{.ports = 64}));
    ModelSetFile(kJournalFile, "{\"format\"");  // logged after the tree summary
    dialog = ModelOpenDialog(IDD_MAIN, MainDialogProc);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 16);
    EXPECT_EQ(ListGetCount(dialog, IDC_PORT_LIST), 64);
    EXPECT_EQ(Log(), "");

    ModelPump();
    const std::string first = Log();
    EXPECT_GT(first.size(), 12u * 1024);
    EXPECT_LE(first.size(), 16u * 1024);
    EXPECT_EQ(first.back(), '\n');
    const char later[] = "later\r\n";
    Report().LogText(later);
    EXPECT_EQ(Log(), first);
    PumpStartLog();
    const std::string whole = Log();
    EXPECT_EQ(whole.compare(0, first.size(), first), 0);
    EXPECT_LT(whole.find("***已查找到"), whole.find(">> 修改记录无法使用:"));
    EXPECT_EQ(whole.substr(whole.size() - 7), later);
}

// The held text's edges: Clear drops what is held; a text that fills the
// buffer to its terminator is held, the next sends what is held in first, one
// bigger than the buffer goes straight in behind it. A piece is at most 16 KB
// and ends at the last line end within them. Once all is in, text goes in at
// once.
TEST_F(MainDialogTest, TheHeldLogTextsEdges) {
    LoadCards({{.ports = 2}});
    dialog = ModelOpenDialog(IDD_MAIN, MainDialogProc);
    auto append = [&](const std::string& text) { Report().LogText(text.c_str()); };
    const std::string fits(kLogBlockSize - 1, 'x');
    const std::string tooBig(kLogBlockSize, 'z');
    ClickButton(dialog, IDC_CLEAR);
    append(fits);
    EXPECT_EQ(Log(), "");
    append("y");
    EXPECT_EQ(Log(), fits);
    append(tooBig);
    EXPECT_EQ(Log(), fits + "y" + tooBig);

    ClickButton(dialog, IDC_CLEAR);
    const std::string lines[] = {std::string(99, 'a') + "\n", std::string(16283, 'b') + "\n",   // to byte 16384
                                 std::string(99, 'c') + "\n", std::string(16284, 'd') + "\n"};  // to byte 16385
    for (const std::string& line : lines) {
        append(line);
    }
    ModelPump();
    EXPECT_EQ(Log(), lines[0] + lines[1]);
    ModelPump();
    EXPECT_EQ(Log(), lines[0] + lines[1] + lines[2]);
    const std::string rest = lines[3] + std::string(99, 'e');  // 16384 bytes, no line end at the last
    append(std::string(99, 'e'));
    ModelPump();
    EXPECT_EQ(Log(), lines[0] + lines[1] + lines[2] + rest);
    PumpStartLog();
    append("tail");
    EXPECT_EQ(Log(), lines[0] + lines[1] + lines[2] + rest + "tail");
}

TEST_F(MainDialogTest, TitleSaysX86WithoutSysWow64) {
    LoadCards({});
    ModelSetWindowsFolder("C:\\windows");
    OpenMain();
    std::string title;
    ModelWindowTitle(dialog, &title);
    EXPECT_EQ(title, "Kestrova V120(X86)");
}

TEST_F(MainDialogTest, HubBoxesFollowThePlanAndTheSwitches) {
    OpenMain({});
    auto enabled = [&](std::initializer_list<int> ids) {
        std::string states;
        for (int id : ids)
            states += IsControlEnabled(dialog, id) ? '1' : '0';
        return states;
    };
    const auto boxes = {IDC_HUB_UP, IDC_HUB_DOWN, IDC_UP_PORT1, IDC_UP_PORT8, IDC_DOWN_PORT1, IDC_DOWN_PORT8};
    ClickButton(dialog, IDC_PLAN_HUB);
    EXPECT_EQ(enabled(boxes), "110011");
    ClickButton(dialog, IDC_HUB_UP);
    EXPECT_EQ(enabled(boxes), "111111");
    ClickButton(dialog, IDC_HUB_DOWN);
    EXPECT_EQ(enabled(boxes), "111100");
    ClickButton(dialog, IDC_PLAN_SEQUENTIAL);
    EXPECT_EQ(enabled(boxes), "000000");
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_UP)) << "greying keeps the check marks";
}

TEST_F(MainDialogTest, NonUsbCategorySwitchesToTheSequentialPlan) {
    OpenMain({{.category = "usb"}, {.category = "pci", .firstNumber = 5}});
    ClickButton(dialog, IDC_PLAN_HUB);
    SimClearCalls();
    SelectCombo(IDC_CATEGORY, 2);
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PLAN_SEQUENTIAL));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_PLAN_HUB));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_PLAN_HUB));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_HUB_DOWN));
    ASSERT_EQ(SimCallCount(), 1);
    EXPECT_EQ(SimCallAt(0).category, 2u);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 1);

    SelectCombo(IDC_CATEGORY, 1);
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_PLAN_HUB));
    EXPECT_EQ(SimCallCount(), 2);
}

TEST_F(MainDialogTest, AboutExitAndDeviceManagerCommands) {
    LoadCards({});
    ModelSetSystemFolder("C:\\Program Files\\sys32");
    OpenMain();
    bool aboutShown = false;
    ModelSetModalDriver(
        IDD_ABOUT,
        [](Window about, void* context) {
            *static_cast<bool*>(context) = true;
            ModelSendMessage(about, kMsgCommand, CommandParam(IDC_HELP_TEXT, kButtonClicked), 0);
            EXPECT_FALSE(ModelIsDialogEnabled(mainDialog)) << "other commands leave the box open";
            ModelSendMessage(about, kMsgCommand, CommandParam(kCommandCancel, kButtonClicked), 0);
            EXPECT_TRUE(ModelIsDialogEnabled(mainDialog)) << "Esc closes it";
        },
        &aboutShown);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_ABOUT, 0), 0);
    EXPECT_TRUE(aboutShown);

    ClickButton(dialog, IDC_DEVICE_MANAGER);
    ASSERT_EQ(ModelRunCommands().size(), 1u);
    EXPECT_EQ(ModelRunCommands()[0], "\"C:\\Program Files\\sys32\\mmc.exe\" \"C:\\Program Files\\sys32\\devmgmt.msc\"");

    int unregistered = ModelUsbUnregistrations();
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_EXIT, 0), 0);
    EXPECT_FALSE(ModelIsWindow(dialog));
    int code = -1;
    EXPECT_TRUE(ModelQuitPosted(&code));
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(SimIsInitialised());
    EXPECT_EQ(ModelUsbUnregistrations(), unregistered + 1);
}

TEST_F(MainDialogTest, StartsTheSixtyFourBitCopyUnderEmulation) {
    ModelSetWow64(1);
    ModelSetCurrentFolder("D:\\Tools\\My Serial");
    EXPECT_EQ(RunKestrova(), 0);
    ASSERT_EQ(ModelRunCommands().size(), 1u);
    EXPECT_EQ(ModelRunCommands()[0], "\"D:\\Tools\\My Serial\\X64\\Kestrova_X64.EXE\"");
    EXPECT_EQ(ModelFindDialog(IDD_MAIN), nullptr);
    ModelSetRunResult(32);  // the lowest result that means started
    EXPECT_EQ(RunKestrova(), 0);
    EXPECT_EQ(ModelBoxCount(), 0);

    ModelSetRunResult(2);
    EXPECT_EQ(RunKestrova(), 0);
    ASSERT_EQ(ModelBoxCount(), 1);
    EXPECT_EQ(ModelBoxAt(0).text, "未找到<X64\\Kestrova_X64.EXE>程序,运行失败!");
    EXPECT_EQ(ModelBoxAt(0).caption, "Kestrova");
    EXPECT_EQ(ModelBoxAt(0).kind, kBoxWarningOk);
    EXPECT_EQ(ModelBoxAt(0).owner, nullptr);
}

TEST_F(MainDialogTest, RunsTheDialogItselfWithoutEmulation) {
    LoadCards({});
    ModelSetModalDriver(
        IDD_MAIN, [](Window main, void*) { ModelSendMessage(main, kMsgCommand, CommandParam(kCommandCancel, 0), 0); },
        nullptr);
    for (int state : {0, -1}) {
        ModelSetWow64(state);
        RunKestrova();
        EXPECT_TRUE(ModelRunCommands().empty());
        EXPECT_TRUE(ModelQuitPosted(nullptr));
        ModelResetQuit();
    }
}

}  // namespace

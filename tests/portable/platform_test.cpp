// The platform seam as the program relies on it, proved on the program's own
// main dialog template: natively over the in-memory platform, and under Wine
// over real controls. Where the two could differ, Wine's behaviour is the
// reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "tests/support/harness.h"

namespace {

constexpr unsigned kPumpTimeoutMs = 10000;
constexpr unsigned kComboSelEndCancel = 10;  // CBN_SELENDCANCEL
constexpr unsigned kListSetFocus = 4;        // LBN_SETFOCUS
constexpr unsigned kListKillFocus = 5;       // LBN_KILLFOCUS

struct Command {
    unsigned id;
    unsigned code;
    std::thread::id thread;
    int sequence;
};

std::atomic<int> sequence{0};
std::vector<Command> commands;  // written by the dialog procedures on the user-interface thread
bool destroyed = false;
bool focusStartOnInit = false;

intptr_t KESTROVA_CALLBACK RecordingProc(Window dialog, unsigned message, uintptr_t wParam, intptr_t) {
    if (message == kMsgInitDialog && focusStartOnInit) {
        SetControlFocus(dialog, IDC_START_NUMBER);
    }
    if (message == kMsgCommand) {
        commands.push_back(Command{CommandId(wParam), CommandCode(wParam), std::this_thread::get_id(), ++sequence});
    }
    if (message == kMsgDestroy) {
        destroyed = true;
    }
    return 0;
}

using Seen = std::vector<std::pair<unsigned, unsigned>>;

Seen Recorded() {
    Seen seen;
    for (const Command& command : commands) {
        seen.emplace_back(command.id, command.code);
    }
    return seen;
}

// The commands without those of the category combo, which has the focus after
// opening and reports losing it to the first click.
Seen RecordedButCategory() {
    Seen seen;
    for (const Command& command : commands) {
        if (command.id != IDC_CATEGORY) {
            seen.emplace_back(command.id, command.code);
        }
    }
    return seen;
}

std::string Text(int (*read)(Window, int, char*, std::size_t), Window dialog, int id) {
    std::vector<char> buffer(1 << 18);
    int length = read(dialog, id, buffer.data(), buffer.size());
    return length < 0 ? std::string("<missing>") : std::string(buffer.data());
}

std::string ListText(Window dialog, int id, int row) {
    char buffer[512];
    return HarnessListText(dialog, id, row, buffer, sizeof buffer) < 0 ? "<missing>" : buffer;
}

std::string ComboText(Window dialog, int id, int row) {
    char buffer[512];
    return HarnessComboText(dialog, id, row, buffer, sizeof buffer) < 0 ? "<missing>" : buffer;
}

bool IsSet(void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        commands.clear();
        destroyed = false;
        focusStartOnInit = false;
        HarnessResetBoxes();
        dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
        ASSERT_NE(dialog, nullptr);
        HarnessPump();
        commands.clear();
    }
    void TearDown() override {
        HarnessCloseDialog(dialog);
        HarnessPump();
        HarnessResetQuit();
        HarnessResetBoxes();
    }
    Window dialog = nullptr;
};

TEST_F(PlatformTest, OpeningWithoutFocusFocusesTheFirstTabStopElseKeepsTheFocusGiven) {
    // Set up opened the dialog with no focus from its procedure.
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_CATEGORY));
    HarnessCloseDialog(dialog);
    commands.clear();
    focusStartOnInit = true;
    dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
    HarnessPump();
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_START_NUMBER));
    EXPECT_FALSE(HarnessHasFocus(dialog, IDC_CATEGORY));
    EXPECT_EQ(Recorded(), (Seen{{IDC_START_NUMBER, kComboSetFocus}}));
}

TEST_F(PlatformTest, ListRowsSelectionAndEmptying) {
    EXPECT_EQ(ListAddRow(dialog, IDC_ADAPTER_LIST, "1: USB 转 4 串口"), 0);
    EXPECT_EQ(ListAddRow(dialog, IDC_ADAPTER_LIST, "2: PCI"), 1);
    EXPECT_EQ(ListAddRow(dialog, IDC_ADAPTER_LIST, "3: BLE"), 2);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 3);
    EXPECT_EQ(ListText(dialog, IDC_ADAPTER_LIST, 0), "1: USB 转 4 串口");
    EXPECT_EQ(ListText(dialog, IDC_ADAPTER_LIST, 3), "<missing>");
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), kNoRow);

    ListSelectRow(dialog, IDC_ADAPTER_LIST, 2);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), 2);
    ListSelectRow(dialog, IDC_ADAPTER_LIST, 3);  // past the end
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), kNoRow);
    ListSelectRow(dialog, IDC_ADAPTER_LIST, 1);
    ListSelectRow(dialog, IDC_ADAPTER_LIST, kNoRow);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), kNoRow);

    ListSelectRow(dialog, IDC_ADAPTER_LIST, 0);
    ListEmpty(dialog, IDC_ADAPTER_LIST);
    EXPECT_EQ(ListGetCount(dialog, IDC_ADAPTER_LIST), 0);
    EXPECT_EQ(ListGetSelection(dialog, IDC_ADAPTER_LIST), kNoRow);
    // Selecting from code notifies nobody.
    EXPECT_EQ(Recorded(), Seen{});
}

TEST_F(PlatformTest, ComboSelectionClearsForMinusOneAndPastTheEnd) {
    EXPECT_EQ(ComboAddRow(dialog, IDC_START_NUMBER, "COM1 In use"), 0);
    EXPECT_EQ(ComboAddRow(dialog, IDC_START_NUMBER, "COM2"), 1);
    EXPECT_EQ(ComboAddRow(dialog, IDC_START_NUMBER, "COM3"), 2);
    EXPECT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 3);
    EXPECT_EQ(ComboText(dialog, IDC_START_NUMBER, 0), "COM1 In use");
    EXPECT_EQ(ComboText(dialog, IDC_START_NUMBER, 5), "<missing>");

    ComboSelectRow(dialog, IDC_START_NUMBER, 2);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 2);
    ComboSelectRow(dialog, IDC_START_NUMBER, kNoRow);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), kNoRow);
    ComboSelectRow(dialog, IDC_START_NUMBER, 1);
    ComboSelectRow(dialog, IDC_START_NUMBER, 3);  // past the end
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), kNoRow);

    ComboSelectRow(dialog, IDC_START_NUMBER, 1);
    ComboEmpty(dialog, IDC_START_NUMBER);
    EXPECT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 0);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), kNoRow);
    EXPECT_EQ(Recorded(), Seen{});
}

TEST_F(PlatformTest, ClickOnRadioChecksItClearsItsGroupAndNotifiesAtOnce) {
    SetButtonChecked(dialog, IDC_SCOPE_PORT, true);
    SetButtonChecked(dialog, IDC_PLAN_SEQUENTIAL, true);
    EXPECT_EQ(Recorded(), Seen{});  // setting the state is silent

    ClickButton(dialog, IDC_SCOPE_CARD);
    // Handled before ClickButton returned, with no pumping.
    EXPECT_EQ(Recorded(), (Seen{{IDC_CATEGORY, kComboSelEndCancel},
                                {IDC_CATEGORY, kComboKillFocus},
                                {IDC_SCOPE_CARD, kButtonClicked}}));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCOPE_CARD));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCOPE_PORT));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCOPE_ALL));
    // The other group keeps its choice.
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PLAN_SEQUENTIAL));

    commands.clear();
    ClickButton(dialog, IDC_PLAN_HUB);
    EXPECT_EQ(Recorded(), (Seen{{IDC_PLAN_HUB, kButtonClicked}}));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PLAN_HUB));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_PLAN_SEQUENTIAL));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCOPE_CARD));

    // A click on the checked radio notifies again and changes nothing.
    commands.clear();
    ClickButton(dialog, IDC_PLAN_HUB);
    EXPECT_EQ(Recorded(), (Seen{{IDC_PLAN_HUB, kButtonClicked}}));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_PLAN_HUB));
}

TEST_F(PlatformTest, ClickOnCheckBoxToggles) {
    SetButtonChecked(dialog, IDC_HUB_DOWN, true);
    ClickButton(dialog, IDC_HUB_UP);
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_UP));
    ClickButton(dialog, IDC_HUB_DOWN);
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_HUB_DOWN));
    ClickButton(dialog, IDC_HUB_UP);
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_HUB_UP));
    SetButtonChecked(dialog, IDC_HUB_UP, true);
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_UP));
    EXPECT_EQ(RecordedButCategory(), (Seen{{IDC_HUB_UP, kButtonClicked},
                                {IDC_HUB_DOWN, kButtonClicked},
                                {IDC_HUB_UP, kButtonClicked}}));
}

TEST_F(PlatformTest, ClickMovesTheFocusToTheButton) {
    SetControlFocus(dialog, IDC_START_NUMBER);
    commands.clear();
    ClickButton(dialog, IDC_ENUMERATE);
    EXPECT_EQ(Recorded(), (Seen{{IDC_START_NUMBER, kComboSelEndCancel},
                                {IDC_START_NUMBER, kComboKillFocus},
                                {IDC_ENUMERATE, kButtonClicked}}));
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_ENUMERATE));
}

TEST_F(PlatformTest, ClickOnDisabledControlsStillActsButLeavesTheFocus) {
    // A disabled control refuses the user, not a click message: the button
    // notifies, the check box toggles, the radio takes its group's check.
    SetControlFocus(dialog, IDC_START_NUMBER);
    EnableControl(dialog, IDC_ENUMERATE, false);
    EnableControl(dialog, IDC_HUB_UP, false);
    EnableControl(dialog, IDC_SCOPE_ALL, false);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_ENUMERATE));
    SetButtonChecked(dialog, IDC_SCOPE_PORT, true);
    commands.clear();

    ClickButton(dialog, IDC_ENUMERATE);
    ClickButton(dialog, IDC_HUB_UP);
    ClickButton(dialog, IDC_SCOPE_ALL);
    EXPECT_EQ(Recorded(), (Seen{{IDC_ENUMERATE, kButtonClicked},
                                {IDC_HUB_UP, kButtonClicked},
                                {IDC_SCOPE_ALL, kButtonClicked}}));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_UP));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_SCOPE_ALL));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_SCOPE_PORT));
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_START_NUMBER));

    EnableControl(dialog, IDC_ENUMERATE, true);
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_ENUMERATE));
}

TEST_F(PlatformTest, DisablingTheFocusedControlTakesTheFocusAway) {
    SetControlFocus(dialog, IDC_START_NUMBER);
    commands.clear();
    EnableControl(dialog, IDC_START_NUMBER, false);
    EXPECT_EQ(Recorded(), (Seen{{IDC_START_NUMBER, kComboSelEndCancel}, {IDC_START_NUMBER, kComboKillFocus}}));
    EXPECT_FALSE(HarnessHasFocus(dialog, IDC_START_NUMBER));
    EXPECT_FALSE(HarnessHasFocus(dialog, IDC_CATEGORY));
}

TEST_F(PlatformTest, PostedClickRunsOnlyWhenTheLoopReachesIt) {
    PostButtonClick(dialog, IDC_CLEAR);
    EXPECT_EQ(Recorded(), Seen{});
    HarnessPump();
    EXPECT_EQ(RecordedButCategory(), (Seen{{IDC_CLEAR, kButtonClicked}}));
    HarnessPump();
    EXPECT_EQ(RecordedButCategory().size(), 1u);
}

TEST_F(PlatformTest, FocusNotificationsOfCombosAndLists) {
    SetControlFocus(dialog, IDC_START_NUMBER);
    // Raised before SetControlFocus returned.
    EXPECT_EQ(Recorded(), (Seen{{IDC_CATEGORY, kComboSelEndCancel},
                                {IDC_CATEGORY, kComboKillFocus},
                                {IDC_START_NUMBER, kComboSetFocus}}));
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_START_NUMBER));

    // Focusing the focused combo again passes through its own losing of it.
    commands.clear();
    SetControlFocus(dialog, IDC_START_NUMBER);
    EXPECT_EQ(Recorded(), (Seen{{IDC_START_NUMBER, kComboSelEndCancel},
                                {IDC_START_NUMBER, kComboKillFocus},
                                {IDC_START_NUMBER, kComboSetFocus}}));

    // Notifying lists report gaining and losing the focus.
    commands.clear();
    SetControlFocus(dialog, IDC_ADAPTER_LIST);
    SetControlFocus(dialog, IDC_PORT_LIST);
    EXPECT_EQ(Recorded(), (Seen{{IDC_START_NUMBER, kComboSelEndCancel},
                                {IDC_START_NUMBER, kComboKillFocus},
                                {IDC_ADAPTER_LIST, kListSetFocus},
                                {IDC_ADAPTER_LIST, kListKillFocus},
                                {IDC_PORT_LIST, kListSetFocus}}));
    EXPECT_TRUE(HarnessHasFocus(dialog, IDC_PORT_LIST));
    EXPECT_FALSE(HarnessHasFocus(dialog, IDC_ADAPTER_LIST));
}

TEST_F(PlatformTest, EditAppendsAtTheEndWithinItsLimit) {
    EditSetText(dialog, IDC_LOG, "第一行\r\n");
    EditAppendText(dialog, IDC_LOG, "0001#10:00:00:000>> 第二行\r\n");
    EditAppendText(dialog, IDC_LOG, "tail");
    EXPECT_EQ(Text(HarnessEditText, dialog, IDC_LOG), "第一行\r\n0001#10:00:00:000>> 第二行\r\ntail");
    EditSetText(dialog, IDC_LOG, "");
    EXPECT_EQ(Text(HarnessEditText, dialog, IDC_LOG), "");

    // Until the limit is raised the control holds 30000 characters; they
    // are counted as characters, not as bytes.
    std::string wide;
    for (int i = 0; i < 3000; ++i) {
        wide += "串";
    }
    for (int i = 0; i < 11; ++i) {
        EditAppendText(dialog, IDC_LOG, wide.c_str());
    }
    EXPECT_EQ(Text(HarnessEditText, dialog, IDC_LOG).size(), 30000u * 3);
    EditSetText(dialog, IDC_LOG, "");

    const std::string ascii(10000, 'x');
    for (int i = 0; i < 4; ++i) {
        EditAppendText(dialog, IDC_LOG, ascii.c_str());
    }
    EXPECT_EQ(Text(HarnessEditText, dialog, IDC_LOG).size(), 30000u);

    EditRaiseLimit(dialog, IDC_LOG);
    for (int i = 0; i < 3; ++i) {
        EditAppendText(dialog, IDC_LOG, ascii.c_str());
    }
    EditAppendText(dialog, IDC_LOG, "end");
    std::string all = Text(HarnessEditText, dialog, IDC_LOG);
    EXPECT_EQ(all.size(), 60003u);
    EXPECT_EQ(all.substr(all.size() - 4), "xend");
}

TEST_F(PlatformTest, ProgressRangeAndPositionAreClamped) {
    ProgressSetRange(dialog, IDC_PROGRESS, 7);
    ProgressSetPos(dialog, IDC_PROGRESS, 3);
    EXPECT_EQ(HarnessProgressMax(dialog, IDC_PROGRESS), 7);
    EXPECT_EQ(HarnessProgressPos(dialog, IDC_PROGRESS), 3);
    ProgressSetPos(dialog, IDC_PROGRESS, 20);
    EXPECT_EQ(HarnessProgressPos(dialog, IDC_PROGRESS), 7);
    ProgressSetRange(dialog, IDC_PROGRESS, 2);
    EXPECT_EQ(HarnessProgressPos(dialog, IDC_PROGRESS), 2);
    ProgressSetPos(dialog, IDC_PROGRESS, -5);
    EXPECT_EQ(HarnessProgressPos(dialog, IDC_PROGRESS), 0);
}

TEST_F(PlatformTest, StatusTextAndTitleRoundTripChinese) {
    StatusSetText(dialog, IDC_STATUS, "共 4 个串口: COM3 COM4 COM5 COM6");
    EXPECT_EQ(Text(HarnessStatusText, dialog, IDC_STATUS), "共 4 个串口: COM3 COM4 COM5 COM6");
    SetWindowTitle(dialog, "Kestrova V120(X64) 串口");
    char title[128];
    EXPECT_EQ(HarnessWindowTitle(dialog, title, sizeof title), static_cast<int>(std::strlen("Kestrova V120(X64) 串口")));
    EXPECT_STREQ(title, "Kestrova V120(X64) 串口");
    // Reading back into a small buffer cuts at a character boundary.
    EXPECT_EQ(HarnessWindowTitle(dialog, title, 23), static_cast<int>(std::strlen("Kestrova V120(X64) 串口")));
    EXPECT_STREQ(title, "Kestrova V120(X64) 串");
    HarnessWindowTitle(dialog, title, 22);
    EXPECT_STREQ(title, "Kestrova V120(X64) ");
    EXPECT_EQ(Text(HarnessControlText, dialog, IDC_ENUMERATE), "枚举串口");
}

struct BoxCase {
    unsigned kind;
    int answer;         // queued; 0 for none
    int expectedResult;
};

TEST_F(PlatformTest, MessageBoxesAreRecordedAndAnswered) {
    const BoxCase cases[] = {
        {kBoxInfoOk, kAnswerOk, kAnswerOk},
        {kBoxInfoYesNo, kAnswerNo, kAnswerNo},
        {kBoxInfoYesNo, kAnswerYes, kAnswerYes},
        {kBoxWarningOkCancel, kAnswerCancel, kAnswerCancel},
        {kBoxWarningOk, kAnswerOk, kAnswerOk},
        {kBoxInfoYesNo, 0, kAnswerYes},
        {kBoxWarningOkCancel, 0, kAnswerOk},
        {kBoxInfoOk, 0, kAnswerOk},
    };
    int index = 0;
    for (const BoxCase& box : cases) {
        SCOPED_TRACE(index);
        if (box.answer != 0) {
            HarnessQueueAnswer(box.answer);
        }
        std::string text = "当前串口号(COM" + std::to_string(index + 3) + ")已被分配.\r\n仍然继续?";
        EXPECT_EQ(ShowMessageBox(dialog, text.c_str(), " Orvello", box.kind), box.expectedResult);
        ASSERT_EQ(HarnessBoxCount(), index + 1);
        const HarnessBox& seen = HarnessBoxAt(index);
        EXPECT_EQ(seen.owner, dialog);
        EXPECT_EQ(seen.kind, box.kind);
        EXPECT_EQ(std::string(seen.text), text);
        EXPECT_STREQ(seen.caption, " Orvello");
        ++index;
    }
    EXPECT_EQ(HarnessUnscriptedBoxes(), 3);

    HarnessResetBoxes();
    EXPECT_EQ(ShowMessageBox(nullptr, "未找到<X64\\Kestrova_X64.EXE>程序,运行失败!", "Kestrova", kBoxWarningOk), kAnswerOk);
    ASSERT_EQ(HarnessBoxCount(), 1);
    EXPECT_EQ(HarnessBoxAt(0).owner, nullptr);
    EXPECT_STREQ(HarnessBoxAt(0).caption, "Kestrova");
    EXPECT_EQ(HarnessUnscriptedBoxes(), 1);
}

struct WorkerBox {
    Window owner;
    std::atomic<int> result{0};
    std::atomic<bool> done{false};
    std::thread::id thread;
};

unsigned KESTROVA_CALLBACK ShowBoxOnWorker(void* argument) {
    auto* work = static_cast<WorkerBox*>(argument);
    work->thread = std::this_thread::get_id();
    work->result = ShowMessageBox(work->owner, "更改完成\n共 4 个串口", " Orvello", kBoxInfoYesNo);
    work->done = true;
    return 0;
}

TEST_F(PlatformTest, MessageBoxFromAWorkerThread) {
    HarnessQueueAnswer(kAnswerNo);
    WorkerBox work;
    work.owner = dialog;
    ASSERT_TRUE(StartThread(ShowBoxOnWorker, &work));
    ASSERT_TRUE(HarnessPumpUntil(IsSet, &work.done, kPumpTimeoutMs));
    EXPECT_EQ(work.result, kAnswerNo);
    EXPECT_NE(work.thread, std::this_thread::get_id());
    ASSERT_EQ(HarnessBoxCount(), 1);
    EXPECT_EQ(HarnessBoxAt(0).owner, dialog);
    EXPECT_EQ(HarnessBoxAt(0).kind, kBoxInfoYesNo);
    EXPECT_STREQ(HarnessBoxAt(0).text, "更改完成\n共 4 个串口");
    EXPECT_EQ(HarnessUnscriptedBoxes(), 0);
}

struct WorkerClick {
    Window dialog;
    std::atomic<int> returnedAt{0};
    std::atomic<int> selection{-2};
    std::atomic<bool> done{false};
};

unsigned KESTROVA_CALLBACK ClickOnWorker(void* argument) {
    auto* work = static_cast<WorkerClick*>(argument);
    ClickButton(work->dialog, IDC_ENUMERATE);
    work->returnedAt = ++sequence;
    work->selection = ComboGetSelection(work->dialog, IDC_START_NUMBER);
    work->done = true;
    return 0;
}

TEST_F(PlatformTest, ClickFromAWorkerRunsOnTheDialogThreadAndWaitsForIt) {
    ComboAddRow(dialog, IDC_START_NUMBER, "COM1");
    ComboAddRow(dialog, IDC_START_NUMBER, "COM2");
    ComboSelectRow(dialog, IDC_START_NUMBER, 1);
    WorkerClick work;
    work.dialog = dialog;
    ASSERT_TRUE(StartThread(ClickOnWorker, &work));
    ASSERT_TRUE(HarnessPumpUntil(IsSet, &work.done, kPumpTimeoutMs));
    ASSERT_EQ(RecordedButCategory(), (Seen{{IDC_ENUMERATE, kButtonClicked}}));
    const Command& click = commands.back();
    EXPECT_EQ(click.thread, std::this_thread::get_id());
    // Handled before ClickButton returned on the worker.
    EXPECT_LT(click.sequence, work.returnedAt.load());
    EXPECT_EQ(work.selection, 1);
}

// A modal dialog run by the code under test, worked by a driver: the usage
// dialog's template with a recording procedure.
struct ModalRun {
    Window dialog = nullptr;
    std::thread::id thread;
    int fromRows = -1;
    bool fromFocused = false;
    int boxResult = 0;
    bool end = true;
};

intptr_t KESTROVA_CALLBACK UsageRecordingProc(Window modal, unsigned message, uintptr_t wParam, intptr_t) {
    if (message == kMsgInitDialog) {
        ComboAddRow(modal, IDC_USAGE_FROM, "COM1");
        ComboAddRow(modal, IDC_USAGE_FROM, "COM2");
    }
    if (message == kMsgCommand) {
        commands.push_back(Command{CommandId(wParam), CommandCode(wParam), std::this_thread::get_id(), ++sequence});
    }
    return 0;
}

void DriveUsage(Window modal, void* context) {
    auto* run = static_cast<ModalRun*>(context);
    run->dialog = modal;
    run->thread = std::this_thread::get_id();
    run->fromRows = ComboGetCount(modal, IDC_USAGE_FROM);
    run->fromFocused = HarnessHasFocus(modal, IDC_USAGE_FROM);
    HarnessQueueAnswer(kAnswerCancel);
    run->boxResult = ShowMessageBox(modal, "请谨慎操作。\n点击<取消>将取消此操作", " Orvello", kBoxWarningOkCancel);
    if (run->end) {
        EndModalDialog(modal, 5);
    }
}

TEST_F(PlatformTest, ModalDialogIsHandedToItsDriverInsideItsLoop) {
    ModalRun run;
    HarnessSetModalDriver(IDD_USAGE, DriveUsage, &run);
    EXPECT_EQ(RunModalDialog(IDD_USAGE, dialog, UsageRecordingProc), 5);
    EXPECT_NE(run.dialog, nullptr);
    EXPECT_NE(run.dialog, dialog);
    EXPECT_EQ(run.thread, std::this_thread::get_id());
    EXPECT_EQ(run.fromRows, 2);  // initialised before the driver ran
    // Shown with no focus set by its procedure: the first tab stop has it.
    EXPECT_TRUE(run.fromFocused);
    EXPECT_EQ(run.boxResult, kAnswerCancel);
    ASSERT_EQ(HarnessBoxCount(), 1);
    EXPECT_EQ(HarnessBoxAt(0).owner, run.dialog);
    EXPECT_EQ(HarnessBoxAt(0).kind, kBoxWarningOkCancel);
    // Its first notification: the from-number combo took the focus.
    auto first = std::find_if(commands.begin(), commands.end(),
                              [](const Command& command) { return command.id == IDC_USAGE_FROM; });
    ASSERT_NE(first, commands.end());
    EXPECT_EQ(first->code, kComboSetFocus);

    // A driver that leaves the dialog running has it cancelled.
    run = ModalRun{};
    run.end = false;
    EXPECT_EQ(RunModalDialog(IDD_USAGE, dialog, UsageRecordingProc), 2);
    EXPECT_EQ(run.fromRows, 2);
    HarnessSetModalDriver(IDD_USAGE, nullptr, nullptr);
}

TEST_F(PlatformTest, DestroyRunsTheDestroyHandlerAndQuitIsSeenByTheLoop) {
    DestroyDialog(dialog);
    EXPECT_TRUE(destroyed);
    PostQuit(3);
    HarnessPump();
    int code = -1;
    EXPECT_TRUE(HarnessQuitPosted(&code));
    EXPECT_EQ(code, 3);
    HarnessResetQuit();
    EXPECT_FALSE(HarnessQuitPosted(nullptr));
}

TEST(PlatformKernel, StringTableEntriesAsUtf8) {
    char text[512];
    LoadStringText(IDS_NUMBER_CLAIMED, text, sizeof text);
    EXPECT_STREQ(text, KESTROVA_TEXT_NUMBER_CLAIMED);
    LoadStringText(IDS_PORTS_HELD, text, sizeof text);
    EXPECT_STREQ(text, KESTROVA_TEXT_PORTS_HELD);
    LoadStringText(IDS_NUMBERS_CLAIMED, text, sizeof text);
    EXPECT_STREQ(text, KESTROVA_TEXT_NUMBERS_CLAIMED);
    LoadStringText(9999, text, sizeof text);
    EXPECT_STREQ(text, "");
    // Cut to the buffer at a character boundary.
    char small[10];
    LoadStringText(IDS_NUMBER_CLAIMED, small, sizeof small);
    EXPECT_STREQ(small, "当前串");
    LoadStringText(IDS_NUMBER_CLAIMED, small, 9);
    EXPECT_STREQ(small, "当前");
}

TEST(PlatformKernel, ErrorTextsAndLastError) {
    char text[256];
    GetErrorText(5, text, sizeof text);
    EXPECT_GT(std::strlen(text), 0u);
    GetErrorText(0x12345678, text, sizeof text);
    EXPECT_STREQ(text, "");
    SetLastErrorCode(1234);
    EXPECT_EQ(GetLastErrorCode(), 1234u);
}

TEST(PlatformKernel, OpeningAMissingPortFailsWithFileNotFound) {
    SetLastErrorCode(0);
    EXPECT_EQ(TryOpenPort("\\\\.\\COM200"), 2u);
    EXPECT_EQ(GetLastErrorCode(), 2u);
}

TEST(PlatformKernel, SystemFoldersExist) {
    char windows[260];
    char system[260];
    char current[260];
    ASSERT_TRUE(GetWindowsFolder(windows, sizeof windows));
    ASSERT_TRUE(GetSystemFolder(system, sizeof system));
    ASSERT_TRUE(GetCurrentFolder(current, sizeof current));
    EXPECT_TRUE(FolderExists(windows));
    EXPECT_TRUE(FolderExists(system));
    EXPECT_TRUE(FolderExists(current));
    std::string missing = std::string(windows) + "\\kestrova-no-such-folder";
    EXPECT_FALSE(FolderExists(missing.c_str()));
    // A buffer too small for the path gives no path at all.
    char tiny[3];
    EXPECT_FALSE(GetWindowsFolder(tiny, sizeof tiny));
}

TEST(PlatformKernel, LibraryTextIsBoundedByItsField) {
    const char unterminated[8] = {'C', 'O', 'M', '1', '2', '3', '4', '5'};
    const char terminated[8] = {'C', 'O', 'M', '7', '\0', 'x', 'y', 'z'};
    char text[64];
    LibraryTextToUtf8(unterminated, 4, text, sizeof text);
    EXPECT_STREQ(text, "COM1");
    LibraryTextToUtf8(unterminated, sizeof unterminated, text, sizeof text);
    EXPECT_STREQ(text, "COM12345");
    LibraryTextToUtf8(terminated, sizeof terminated, text, sizeof text);
    EXPECT_STREQ(text, "COM7");
    char small[4];
    LibraryTextToUtf8(unterminated, sizeof unterminated, small, sizeof small);
    EXPECT_STREQ(small, "COM");
}

}  // namespace

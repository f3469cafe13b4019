// The platform seam as the program relies on it, proved on the program's own
// main dialog template: natively over the in-memory platform, and under Wine
// over real controls, so that the two cannot drift apart. Where they could
// differ, Wine's behaviour is the reference. The last tests run natively only:
// the in-memory stand-ins whose faults would let other tests pass wrongly.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "resources/ids.h"
#include "resources/strings.h"
#include "tests/support/harness.h"
#if !defined(_WIN32)
#include "platform/model/model.h"
#endif

namespace {

constexpr unsigned kPumpTimeoutMs = 10000;
constexpr unsigned kSelEndCancel = 10;  // CBN_SELENDCANCEL
constexpr unsigned kListSetFocus = 4;   // LBN_SETFOCUS
constexpr unsigned kListKillFocus = 5;  // LBN_KILLFOCUS

struct Command {
    unsigned id;
    unsigned code;
    std::thread::id thread;
    int sequence;
};
std::atomic<int> sequence{0};
std::vector<Command> commands;  // written by the dialog procedure, on the user-interface thread

// Appends the text in lParam to edit wParam, as the program's dialog does for
// its log (WM_APP + 3).
constexpr unsigned kMsgAppend = 0x8003;

intptr_t KESTROVA_CALLBACK RecordingProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    if (message == kMsgCommand) {
        commands.push_back(Command{CommandId(wParam), CommandCode(wParam), std::this_thread::get_id(), ++sequence});
    } else if (message == kMsgAppend) {
        EditAppendText(window, static_cast<int>(wParam), reinterpret_cast<const char*>(lParam));
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

std::vector<int> Clicked() {
    std::vector<int> ids;
    for (const Command& command : commands) {
        if (command.code == kButtonClicked) {
            ids.push_back(static_cast<int>(command.id));
        }
    }
    return ids;
}

bool IsSet(void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        HarnessResetBoxes();
        dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
        ASSERT_NE(dialog, nullptr);
        HarnessPump();
        commands.clear();
    }
    void TearDown() override {
        HarnessCloseDialog(dialog);
        HarnessPump();
    }
    Window dialog = nullptr;
};

struct RowControl {
    int id;
    int (*add)(Window, int, const char*);
    void (*select)(Window, int, int);
    int (*selection)(Window, int);
    int (*count)(Window, int);
    void (*empty)(Window, int);
};

TEST_F(PlatformTest, ListAndComboSelectNothingPastTheEnd) {
    const RowControl controls[] = {
        {IDC_ADAPTER_LIST, ListAddRow, ListSelectRow, ListGetSelection, ListGetCount, ListEmpty},
        {IDC_START_NUMBER, ComboAddRow, ComboSelectRow, ComboGetSelection, ComboGetCount, ComboEmpty},
    };
    // Each row selected in turn, and the selection it leaves.
    const int steps[][2] = {{2, 2}, {3, kNoRow}, {1, 1}, {kNoRow, kNoRow}, {0, 0}};
    for (const RowControl& c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(c.add(dialog, c.id, "1: USB 转 4 串口"), 0);
        EXPECT_EQ(c.add(dialog, c.id, "COM2"), 1);
        EXPECT_EQ(c.add(dialog, c.id, "COM3"), 2);
        EXPECT_EQ(c.count(dialog, c.id), 3);
        EXPECT_EQ(HarnessRowText(dialog, c.id, 0), "1: USB 转 4 串口");
        EXPECT_EQ(HarnessRowText(dialog, c.id, 3), "<missing>");
        EXPECT_EQ(c.selection(dialog, c.id), kNoRow);
        for (const auto& [row, left] : steps) {
            c.select(dialog, c.id, row);
            EXPECT_EQ(c.selection(dialog, c.id), left) << "row " << row;
        }
        c.empty(dialog, c.id);
        EXPECT_EQ(c.count(dialog, c.id), 0);
        EXPECT_EQ(c.selection(dialog, c.id), kNoRow);
    }
    EXPECT_EQ(Recorded(), Seen{});  // selecting from code notifies nobody
}

enum class Act { Click, Check, Uncheck, Disable };
struct ButtonStep {
    Act act;
    int id;
    std::vector<int> checked;  // every checked button afterwards
};

// Auto radio groups as the template sets them (scope; plan; then the hub
// check boxes), with clicks reported before ClickButton returns.
TEST_F(PlatformTest, RadioGroupsAndCheckBoxes) {
    const int buttons[] = {IDC_SCOPE_PORT, IDC_SCOPE_CARD, IDC_SCOPE_ALL, IDC_PLAN_SEQUENTIAL,
                           IDC_PLAN_HUB,   IDC_HUB_UP,     IDC_HUB_DOWN,  IDC_CHANGE};
    const ButtonStep steps[] = {
        {Act::Check, IDC_SCOPE_PORT, {IDC_SCOPE_PORT}},
        {Act::Check, IDC_PLAN_SEQUENTIAL, {IDC_SCOPE_PORT, IDC_PLAN_SEQUENTIAL}},
        {Act::Click, IDC_SCOPE_CARD, {IDC_SCOPE_CARD, IDC_PLAN_SEQUENTIAL}},
        {Act::Click, IDC_PLAN_HUB, {IDC_SCOPE_CARD, IDC_PLAN_HUB}},
        {Act::Click, IDC_PLAN_HUB, {IDC_SCOPE_CARD, IDC_PLAN_HUB}},  // reported again, changes nothing
        {Act::Check, IDC_SCOPE_ALL, {IDC_SCOPE_ALL, IDC_PLAN_HUB}},  // checking clears the group too
        {Act::Disable, IDC_SCOPE_ALL, {IDC_SCOPE_ALL, IDC_PLAN_HUB}},
        // A disabled radio is passed over when its group is cleared.
        {Act::Click, IDC_SCOPE_PORT, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_PLAN_HUB}},
        {Act::Click, IDC_HUB_UP, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_PLAN_HUB, IDC_HUB_UP}},
        {Act::Click, IDC_HUB_UP, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_PLAN_HUB}},
        // A click from code still works a disabled control.
        {Act::Disable, IDC_HUB_DOWN, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_PLAN_HUB}},
        {Act::Click, IDC_HUB_DOWN, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_PLAN_HUB, IDC_HUB_DOWN}},
        {Act::Uncheck, IDC_PLAN_HUB, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_HUB_DOWN}},
        {Act::Check, IDC_CHANGE, {IDC_SCOPE_PORT, IDC_SCOPE_ALL, IDC_HUB_DOWN}},  // a push button has no check
    };
    std::vector<int> clicks;
    int index = 0;
    for (const ButtonStep& step : steps) {
        SCOPED_TRACE(index++);
        switch (step.act) {
        case Act::Click:
            ClickButton(dialog, step.id);
            clicks.push_back(step.id);
            break;
        case Act::Check:
        case Act::Uncheck:
            SetButtonChecked(dialog, step.id, step.act == Act::Check);
            break;
        case Act::Disable:
            EnableControl(dialog, step.id, false);
            EXPECT_FALSE(IsControlEnabled(dialog, step.id));
            break;
        }
        EXPECT_EQ(Clicked(), clicks);
        for (int id : buttons) {
            bool checked = std::find(step.checked.begin(), step.checked.end(), id) != step.checked.end();
            EXPECT_EQ(IsButtonChecked(dialog, id), checked) << "button " << id;
        }
    }
}

struct FocusStep {
    const char* what;
    void (*act)(Window);
    Seen notified;
    int focused;  // 0: no control
};

TEST_F(PlatformTest, FocusNotifications) {
    const FocusStep steps[] = {
        // Opened with no focus from its procedure: the first tab stop had it.
        {"focus the start combo",
         [](Window d) { SetControlFocus(d, IDC_START_NUMBER); },
         {{IDC_CATEGORY, kSelEndCancel}, {IDC_CATEGORY, kComboKillFocus}, {IDC_START_NUMBER, kComboSetFocus}},
         IDC_START_NUMBER},
        {"focus it again: it passes through losing it",
         [](Window d) { SetControlFocus(d, IDC_START_NUMBER); },
         {{IDC_START_NUMBER, kSelEndCancel}, {IDC_START_NUMBER, kComboKillFocus}, {IDC_START_NUMBER, kComboSetFocus}},
         IDC_START_NUMBER},
        {"focus a list",
         [](Window d) { SetControlFocus(d, IDC_ADAPTER_LIST); },
         {{IDC_START_NUMBER, kSelEndCancel}, {IDC_START_NUMBER, kComboKillFocus}, {IDC_ADAPTER_LIST, kListSetFocus}},
         IDC_ADAPTER_LIST},
        {"focus another list",
         [](Window d) { SetControlFocus(d, IDC_PORT_LIST); },
         {{IDC_ADAPTER_LIST, kListKillFocus}, {IDC_PORT_LIST, kListSetFocus}},
         IDC_PORT_LIST},
        {"a click moves the focus to the button",
         [](Window d) { ClickButton(d, IDC_ENUMERATE); },
         {{IDC_PORT_LIST, kListKillFocus}, {IDC_ENUMERATE, kButtonClicked}},
         IDC_ENUMERATE},
        {"back to the combo",
         [](Window d) { SetControlFocus(d, IDC_START_NUMBER); },
         {{IDC_START_NUMBER, kComboSetFocus}},
         IDC_START_NUMBER},
        {"a click on a disabled button leaves the focus",
         [](Window d) {
             EnableControl(d, IDC_ENUMERATE, false);
             ClickButton(d, IDC_ENUMERATE);
         },
         {{IDC_ENUMERATE, kButtonClicked}},
         IDC_START_NUMBER},
        {"disabling the focused control takes the focus away",
         [](Window d) { EnableControl(d, IDC_START_NUMBER, false); },
         {{IDC_START_NUMBER, kSelEndCancel}, {IDC_START_NUMBER, kComboKillFocus}},
         0},
    };
    const int watched[] = {IDC_CATEGORY, IDC_START_NUMBER, IDC_ADAPTER_LIST, IDC_PORT_LIST, IDC_ENUMERATE};
    for (const FocusStep& step : steps) {
        SCOPED_TRACE(step.what);
        commands.clear();
        step.act(dialog);
        EXPECT_EQ(Recorded(), step.notified);  // before the call returned, with no pumping
        for (int id : watched) {
            EXPECT_EQ(HarnessHasFocus(dialog, id), id == step.focused) << "control " << id;
        }
    }
}

TEST_F(PlatformTest, PostedClickRunsOnlyWhenTheLoopReachesIt) {
    PostButtonClick(dialog, IDC_CLEAR);
    EXPECT_EQ(Clicked(), std::vector<int>{});
    HarnessPump();
    EXPECT_EQ(Clicked(), std::vector<int>{IDC_CLEAR});
    HarnessPump();
    EXPECT_EQ(Clicked(), std::vector<int>{IDC_CLEAR});
}

struct Worker {
    Window dialog;
    std::atomic<int> clickReturnedAt{0};
    std::atomic<int> selection{-2};
    std::atomic<int> answer{0};
    std::thread::id thread;
    std::atomic<bool> done{false};
};

unsigned KESTROVA_CALLBACK WorkOnTheDialog(void* argument) {
    auto* work = static_cast<Worker*>(argument);
    work->thread = std::this_thread::get_id();
    ClickButton(work->dialog, IDC_ENUMERATE);
    work->clickReturnedAt = ++sequence;
    work->selection = ComboGetSelection(work->dialog, IDC_START_NUMBER);
    work->answer = ShowMessageBox(work->dialog, "更改完成\n共 4 个串口", " Orvello", kBoxInfoYesNo);
    work->done = true;
    return 0;
}

TEST_F(PlatformTest, CallsFromAWorkerRunOnTheDialogThreadAndWaitForIt) {
    ComboAddRow(dialog, IDC_START_NUMBER, "COM1");
    ComboAddRow(dialog, IDC_START_NUMBER, "COM2");
    ComboSelectRow(dialog, IDC_START_NUMBER, 1);
    HarnessQueueAnswer(kAnswerNo);
    Worker work;
    work.dialog = dialog;
    ASSERT_TRUE(StartThread(WorkOnTheDialog, &work));
    ASSERT_TRUE(HarnessPumpUntil(IsSet, &work.done, kPumpTimeoutMs));
    auto click = std::find_if(commands.begin(), commands.end(),
                              [](const Command& command) { return command.code == kButtonClicked; });
    ASSERT_NE(click, commands.end());
    EXPECT_EQ(click->id, static_cast<unsigned>(IDC_ENUMERATE));
    EXPECT_EQ(click->thread, std::this_thread::get_id());
    EXPECT_LT(click->sequence, work.clickReturnedAt.load());  // handled before ClickButton returned
    EXPECT_EQ(work.selection, 1);
    // A box shown by the worker belongs to the worker, and is answered there.
    EXPECT_NE(work.thread, std::this_thread::get_id());
    EXPECT_EQ(work.answer, kAnswerNo);
    ASSERT_EQ(HarnessBoxCount(), 1);
    EXPECT_EQ(HarnessBoxAt(0).owner, dialog);
    EXPECT_EQ(HarnessBoxAt(0).text, "更改完成\n共 4 个串口");
}

TEST_F(PlatformTest, EditAppendsAtTheEndWithinItsLimit) {
    EditSetText(dialog, IDC_LOG, "第一行\r\n");
    HarnessSetEditSelection(dialog, IDC_LOG, 0, 1);  // wherever the user left the caret
    EditAppendText(dialog, IDC_LOG, "0001#10:00:00:000>> 第二行\r\n");
    EditAppendText(dialog, IDC_LOG, "tail");
    EXPECT_EQ(HarnessText(dialog, IDC_LOG), "第一行\r\n0001#10:00:00:000>> 第二行\r\ntail");
    EXPECT_EQ(HarnessEditLength(dialog, IDC_LOG), 34);

    // Until the limit is raised the control holds 30000 characters, counted
    // as characters, not bytes.
    std::string chinese;
    for (int i = 0; i < 3000; ++i) {
        chinese += "串";
    }
    EditSetText(dialog, IDC_LOG, "");
    for (int i = 0; i < 11; ++i) {
        EditAppendText(dialog, IDC_LOG, chinese.c_str());
    }
    EXPECT_EQ(HarnessEditLength(dialog, IDC_LOG), 30000);
    EXPECT_EQ(HarnessText(dialog, IDC_LOG).size(), 30000u * 3);
    EditRaiseLimit(dialog, IDC_LOG);
    EditAppendText(dialog, IDC_LOG, "end");
    EXPECT_EQ(HarnessEditLength(dialog, IDC_LOG), 30003);
}

struct Appender {
    Window dialog;
    std::atomic<bool> done{false};
};

constexpr int kAppendedLines = 200;

std::string AppendedLine(int n) {
    char line[32];
    std::snprintf(line, sizeof line, "%04d#第 %d 行\r\n", n, n);
    return line;
}

unsigned KESTROVA_CALLBACK AppendLines(void* argument) {
    auto* work = static_cast<Appender*>(argument);
    for (int n = 0; n < kAppendedLines; ++n) {
        std::string line = AppendedLine(n);
        SendDialogMessage(work->dialog, kMsgAppend, IDC_LOG, reinterpret_cast<intptr_t>(line.c_str()));
    }
    work->done = true;
    return 0;
}

// After every pump the user clicks into the middle of the log: each line the
// worker sends to the dialog must still land whole, at the end, in order.
bool ClickIntoTheLog(void* argument) {
    auto* work = static_cast<Appender*>(argument);
    int length = HarnessEditLength(work->dialog, IDC_LOG);
    HarnessSetEditSelection(work->dialog, IDC_LOG, length / 2, length / 2 + 1);
    return work->done;
}

TEST_F(PlatformTest, WorkerAppendsStayWholeWhileTheUserSelectsInTheLog) {
    EditRaiseLimit(dialog, IDC_LOG);
    EditSetText(dialog, IDC_LOG, "开始\r\n");
    Appender work;
    work.dialog = dialog;
    ASSERT_TRUE(StartThread(AppendLines, &work));
    ASSERT_TRUE(HarnessPumpUntil(ClickIntoTheLog, &work, kPumpTimeoutMs));
    std::string expected = "开始\r\n";
    for (int n = 0; n < kAppendedLines; ++n) {
        expected += AppendedLine(n);
    }
    EXPECT_EQ(HarnessText(dialog, IDC_LOG), expected);
}

struct BoxCase {
    unsigned kind;
    int answer;  // queued; 0 for none
    int result;
};

TEST_F(PlatformTest, MessageBoxesAreRecordedAndAnswered) {
    const BoxCase cases[] = {
        {kBoxInfoOk, kAnswerOk, kAnswerOk},      {kBoxInfoYesNo, kAnswerNo, kAnswerNo},
        {kBoxInfoYesNo, kAnswerYes, kAnswerYes}, {kBoxWarningOkCancel, kAnswerCancel, kAnswerCancel},
        {kBoxWarningOk, kAnswerOk, kAnswerOk},   {kBoxInfoYesNo, 0, kAnswerYes},
        {kBoxWarningOkCancel, 0, kAnswerOk},     {kBoxInfoOk, 0, kAnswerOk},
    };
    int index = 0;
    for (const BoxCase& box : cases) {
        SCOPED_TRACE(index);
        if (box.answer != 0) {
            HarnessQueueAnswer(box.answer);
        }
        Window owner = index == 0 ? nullptr : dialog;
        std::string text = "当前串口号(COM" + std::to_string(index + 3) + ")已被分配.\r\n仍然继续?";
        EXPECT_EQ(ShowMessageBox(owner, text.c_str(), " Orvello", box.kind), box.result);
        ASSERT_EQ(HarnessBoxCount(), index + 1);
        HarnessBox seen = HarnessBoxAt(index);
        EXPECT_EQ(seen.owner, owner);
        EXPECT_EQ(seen.kind, box.kind);
        EXPECT_EQ(seen.text, text);
        EXPECT_EQ(seen.caption, " Orvello");
        ++index;
    }
    EXPECT_EQ(HarnessUnscriptedBoxes(), 3);
}

TEST(PlatformKernel, TextsCutAtACharacterAndLibraryFieldsReadWithinTheirWidth) {
    char text[512];
    LoadStringText(IDS_NUMBER_CLAIMED, text, sizeof text);
    EXPECT_STREQ(text, KESTROVA_TEXT_NUMBER_CLAIMED);
    LoadStringText(9999, text, sizeof text);
    EXPECT_STREQ(text, "");
    LoadStringText(IDS_NUMBER_CLAIMED, text, 9);  // "当前串" needs 10
    EXPECT_STREQ(text, "当前");
    // Sized exactly, so the sanitizers catch a read past the field.
    const std::vector<char> field = {'C', 'O', 'M', '1', '2', '\0', 'x'};
    const std::pair<std::size_t, const char*> reads[] = {{4, "COM1"}, {field.size(), "COM12"}};
    for (const auto& [width, expected] : reads) {
        LibraryTextToUtf8(field.data(), width, text, sizeof text);
        EXPECT_STREQ(text, expected);
    }
    LibraryTextToUtf8(field.data(), field.size(), text, 4);
    EXPECT_STREQ(text, "COM");
}

#if !defined(_WIN32)
// A stand-in left set up would let one test pass on another's state.
TEST(ModelStandIns, ResetForgetsWhatATestSetUp) {
    Window dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
    HarnessQueueAnswer(kAnswerNo);
    ShowMessageBox(dialog, "x", " Orvello", kBoxInfoOk);
    HarnessQueueAnswer(kAnswerNo);
    PostQuit(0);
    ModelComDbSetClaimed(5, true);
    ModelComDbFailOpen(5);
    ModelSetPortResult("\\\\.\\COM3", 0);
    ModelSetRunResult(2);
    DebugOutput("line");
    SleepMs(10);
    ModelSetArguments("/list");
    ConsoleWrite("out", false);
    ModelSetFile("C:\\ProgramData\\Kestrova\\journal.json", "{}");
    ModelSetProgramExitCode(4);
    ASSERT_TRUE(AcquireRunLock(0));

    ModelReset();
    EXPECT_FALSE(ModelIsWindow(dialog));
    EXPECT_EQ(HarnessBoxCount(), 0);
    EXPECT_EQ(ShowMessageBox(nullptr, "x", "Kestrova", kBoxInfoYesNo), kAnswerYes);  // the queued No is gone
    EXPECT_FALSE(ModelQuitPosted(nullptr));
    EXPECT_FALSE(ModelComDbIsClaimed(5));
    ComDbHandle db;
    EXPECT_EQ(ComDbOpen(&db), 0);
    EXPECT_EQ(TryOpenPort("\\\\.\\COM3"), 2u);
    EXPECT_EQ(RunProgram("x"), 33u);
    EXPECT_EQ(ModelDebugText(), "");
    EXPECT_TRUE(ModelSleeps().empty());
    char arguments[8];
    EXPECT_TRUE(GetArgumentsText(arguments, sizeof arguments));
    EXPECT_STREQ(arguments, "");
    EXPECT_EQ(ModelConsoleText(false), "");
    std::string journal;
    EXPECT_FALSE(ModelFile("C:\\ProgramData\\Kestrova\\journal.json", &journal));
    EXPECT_FALSE(ModelRunLockOwned());
    unsigned code = 9;
    EXPECT_TRUE(RunProgramAndWait("x", &code));
    EXPECT_EQ(code, 0u);
    ModelReset();
}

// Tests wait on this count for the worker to finish.
TEST(ModelStandIns, StartedThreadsAreCountedUntilTheyReturn) {
    ModelReset();
    std::atomic<bool> open{false};
    ASSERT_TRUE(StartThread(
        [](void* gate) -> unsigned {
            while (!static_cast<std::atomic<bool>*>(gate)->load()) {
                std::this_thread::yield();
            }
            return 0;
        },
        &open));
    EXPECT_EQ(ModelRunningThreads(), 1);
    open = true;
    EXPECT_TRUE(ModelPumpUntil([](void*) { return ModelRunningThreads() == 0; }, nullptr, kPumpTimeoutMs));
    EXPECT_EQ(ModelStartedThreads(), 1);
}
#endif

}  // namespace

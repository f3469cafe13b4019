// The usage dialog: claiming and releasing ranges of COM numbers.
#include "comdb/usage_dialog.h"

#include <functional>

#include "program_fixture.h"

namespace {

class UsageDialogTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        LoadCards({});
        OpenMain();
    }
    // Opens the usage dialog from the main dialog and runs work inside it.
    void WithUsageDialog(std::function<void(Window)> work) {
        ModelSetModalDriver(
            IDD_USAGE, [](Window usage, void* context) { (*static_cast<std::function<void(Window)>*>(context))(usage); },
            &work);
        ClickButton(dialog, IDC_USAGE);
        ModelSetModalDriver(IDD_USAGE, nullptr, nullptr);
    }
    static void Choose(Window usage, int id, unsigned number) {
        ComboSelectRow(usage, id, static_cast<int>(number) - 1);
        ModelSendMessage(usage, kMsgCommand, CommandParam(static_cast<unsigned>(id), kComboSelChange), 0);
    }
    static std::string Row(Window usage, int id, unsigned number) {
        std::string text;
        ModelComboRow(usage, id, static_cast<int>(number) - 1, &text);
        return text;
    }
};

TEST_F(UsageDialogTest, OpensWithCom3InBothListsAndFocusReturnsToTheStartList) {
    ModelComDbSetClaimed(3, true);
    WithUsageDialog([&](Window usage) {
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_FROM), 2);
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_TO), 2);
        EXPECT_EQ(ComboGetCount(usage, IDC_USAGE_FROM), 256);
        EXPECT_EQ(Row(usage, IDC_USAGE_TO, 3), "COM3 In use");
        Choose(usage, IDC_USAGE_FROM, 5);
        ModelComDbSetClaimed(6, true);  // claimed by someone else meanwhile
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_REFRESH, kButtonClicked), 0);
        EXPECT_EQ(Row(usage, IDC_USAGE_FROM, 6), "COM6 In use") << "refresh rebuilds the lists";
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_FROM), 4) << "and keeps the rows";
    });
    std::string row;
    ModelComboRow(dialog, IDC_START_NUMBER, 5, &row);
    EXPECT_EQ(row, "COM6 In use") << "closing refocuses and refills the start list";
    EXPECT_TRUE(ModelHasFocus(dialog, IDC_START_NUMBER));
    EXPECT_EQ(usageDialog, nullptr);

    WithUsageDialog([&](Window usage) { EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_FROM), 2); });
}

TEST_F(UsageDialogTest, RangeEndsPullEachOther) {
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_FROM, 9);
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_TO), 8) << "from above to pushes to up";
        Choose(usage, IDC_USAGE_TO, 5);
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_FROM), 4) << "to below from pulls from down";
        Choose(usage, IDC_USAGE_TO, 7);
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_FROM), 4) << "a valid range stays";
    });
}

TEST_F(UsageDialogTest, Com1AndCom2AreRefused) {
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_FROM, 1);
        Choose(usage, IDC_USAGE_TO, 4);
        EXPECT_EQ(ApplyUsageRange(false), 0);
    });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"COM1/2为系统保留号,禁止操作."});
    EXPECT_EQ(ModelBoxAt(0).caption, " Orvello");
    EXPECT_NE(ModelBoxAt(0).owner, dialog) << "owned by the usage dialog";
    EXPECT_TRUE(Contains(Log(), ">> 操作取消.COM1为系统保留号,请选择COM3及之后的号\r\n"));
    EXPECT_FALSE(ModelComDbIsClaimed(3));
}

TEST_F(UsageDialogTest, NoRowChosenIsRefused) {
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        ComboSelectRow(usage, IDC_USAGE_TO, -1);
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_CLAIM, kButtonClicked), 0);
        EXPECT_EQ(ComboGetSelection(usage, IDC_USAGE_TO), 2) << "lists rebuilt afterwards";
    });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"请选择起始和结束串口号."});
    EXPECT_TRUE(Contains(Log(), ">> 未选择串口号，操作取消\r\n"));
}

TEST_F(UsageDialogTest, ReleaseWarnsOnceAndListsWhatItReleased) {
    ModelComDbSetClaimed(5, true);
    ModelComDbSetClaimed(7, true);
    ModelQueueAnswer(kAnswerOk);  // the warning
    ModelQueueAnswer(kAnswerOk);  // the summary
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 9);
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_RELEASE, kButtonClicked), 0);
        EXPECT_EQ(Row(usage, IDC_USAGE_FROM, 5), "COM5");
    });
    ASSERT_EQ(ModelBoxCount(), 2);
    EXPECT_EQ(ModelBoxAt(0).kind, kBoxWarningOkCancel);
    EXPECT_EQ(ModelBoxAt(1).kind, kBoxInfoOk);
    EXPECT_EQ(ModelBoxAt(1).text, "COM5,COM7,\n****共2个串口状态，声明为[未使用]****");
    EXPECT_FALSE(ModelComDbIsClaimed(5));
    EXPECT_FALSE(ModelComDbIsClaimed(7));
}

TEST_F(UsageDialogTest, ReleaseCancelledAtTheWarningChangesNothing) {
    ModelComDbSetClaimed(5, true);
    ModelQueueAnswer(kAnswerCancel);
    int result = -1;
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 9);
        result = ApplyUsageRange(true);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ModelBoxCount(), 1) << "no message after a cancel";
    EXPECT_TRUE(ModelComDbIsClaimed(5));
    EXPECT_TRUE(Contains(Log(), ">> 操作取消\r\n"));
}

TEST_F(UsageDialogTest, ReleaseOfAFreeRangeNeedsNoWarning) {
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 9);
        EXPECT_EQ(ApplyUsageRange(true), 1);
    });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"\n****共0个串口状态，声明为[未使用]****"});
}

TEST_F(UsageDialogTest, ClaimSkipsClaimedNumbers) {
    ModelComDbSetClaimed(3, true);
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 4);
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_CLAIM, kButtonClicked), 0);
        EXPECT_EQ(Row(usage, IDC_USAGE_TO, 4), "COM4 In use");
    });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"COM4,\n****共1个串口状态，声明为[使用中]****"});
    EXPECT_TRUE(ModelComDbIsClaimed(4));
}

TEST_F(UsageDialogTest, FailedClaimsAreLoggedWithTheDatabaseErrorAndNamed) {
    ModelComDbFailWrites(5);
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 4);
        EXPECT_EQ(ApplyUsageRange(false), 0);
    });
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"设定串口<使用中>状态失败.\n\n****共0个串口状态，声明为[使用中]****"
                                                    "\n未能修改:COM3,COM4,"});
    EXPECT_TRUE(Contains(Log(), ">> ClaimPort COM4:Last Err(5)Access is denied.\r\n")) << Log();
}

TEST_F(UsageDialogTest, ANumberAnotherProgramChangesMidwayDoesNotStopTheRange) {
    for (bool release : {false, true}) {
        SCOPED_TRACE(release ? "release" : "claim");
        ModelResetBoxes();
        for (unsigned n = 3; n <= 6; ++n) ModelComDbSetClaimed(n, release);
        ModelComDbRival(4, 5);
        ModelQueueAnswer(kAnswerOk);
        ModelQueueAnswer(kAnswerOk);
        WithUsageDialog([&](Window usage) {
            Choose(usage, IDC_USAGE_TO, 6);
            EXPECT_EQ(ApplyUsageRange(release), 1);
        });
        for (unsigned n = 3; n <= 6; ++n) EXPECT_EQ(ModelComDbIsClaimed(n), !release) << n;
        EXPECT_EQ(BoxTexts().back(), std::string("COM3,COM4,COM6,\n****共3个串口状态，声明为[") +
                                         (release ? "未使用" : "使用中") + "]****");
        EXPECT_TRUE(Contains(Log(), std::string(">> 串口号状态已设为[") + (release ? "未使用" : "使用中") +
                                        "]:COM3,COM4,COM6,\r\n"));
    }
}

TEST_F(UsageDialogTest, WholeRangeSummaryFitsItsBuffer) {
    ModelQueueAnswer(kAnswerOk);
    WithUsageDialog([&](Window usage) {
        Choose(usage, IDC_USAGE_TO, 256);
        EXPECT_EQ(ApplyUsageRange(false), 1);
    });
    ASSERT_EQ(ModelBoxCount(), 1);
    EXPECT_TRUE(Contains(ModelBoxAt(0).text, "COM255,COM256,\n****共254个串口状态，声明为[使用中]****"));
    EXPECT_TRUE(ModelComDbIsClaimed(256));
}

}  // namespace

// The usage dialog: claiming and releasing ranges of COM numbers.
#include "ui/usage_dialog.h"

#include <functional>

#include "program_fixture.h"
#include "resources/strings.h"

namespace {

class UsageDialogTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        OpenMain({});
    }
    // Opens the usage dialog from the main dialog and runs work inside it.
    void WithUsageDialog(std::function<void(Window)> work) {
        ModelSetModalDriver(
            IDD_USAGE,
            [](Window usage, void* context) { (*static_cast<std::function<void(Window)>*>(context))(usage); }, &work);
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
        ModelQueueAnswer(kAnswerOk);
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_CLAIM, kButtonClicked), 0);
        EXPECT_TRUE(ModelComDbIsClaimed(5));
        ModelQueueAnswer(kAnswerOk);
        ModelQueueAnswer(kAnswerOk);
        ModelSendMessage(usage, kMsgCommand, CommandParam(IDC_USAGE_RELEASE, kButtonClicked), 0);
        EXPECT_FALSE(ModelComDbIsClaimed(5));
        ModelSendMessage(usage, kMsgCommand, CommandParam(kCommandCancel, kButtonClicked), 0);
        EXPECT_TRUE(ModelIsDialogEnabled(mainDialog)) << "Esc closes it";
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

// "COM3,COM4,...,COM<last>,"
std::string Coms(unsigned first, unsigned last) {
    std::string list;
    for (unsigned n = first; n <= last; ++n)
        list += "COM" + std::to_string(n) + ",";
    return list;
}

TEST_F(UsageDialogTest, RangesAreClaimedAndReleasedAsTheDatabaseAllows) {
    std::vector<unsigned> fromCom3;
    for (unsigned n = 3; n <= 256; ++n)
        fromCom3.push_back(n);
    auto total = [](int count, bool release) {
        return "\n****共" + std::to_string(count) + "个串口状态，声明为[" + (release ? "未使用" : "使用中") + "]****";
    };
    struct Case {
        const char* what;
        std::vector<unsigned> claimedBefore;
        unsigned from, to;  // 0: no row chosen
        bool release;
        std::vector<int> answers;
        long failWrites;
        unsigned rivalTrigger, rivalNumber;
        int result;
        std::vector<std::string> boxes;
        std::vector<unsigned> claimedAfter;
        std::string logged;  // "" none
    } cases[] = {
        // clang-format off
        {"COM1 and COM2 are refused", {}, 1, 4, false, {kAnswerOk}, 0, 0, 0, 0,
         {"COM1/2为系统保留号,禁止操作."}, {}, "操作取消.COM1为系统保留号,请选择COM3及之后的号"},
        {"no row chosen is refused", {}, 3, 0, false, {kAnswerOk}, 0, 0, 0, 0,
         {"请选择起始和结束串口号."}, {}, "未选择串口号，操作取消"},
        {"COM3 alone", {}, 3, 3, false, {kAnswerOk}, 0, 0, 0, 1,
         {"COM3," + total(1, false)}, {3}, "串口号状态已设为[使用中]:COM3,"},
        {"claim skips claimed numbers", {3}, 3, 4, false, {kAnswerOk}, 0, 0, 0, 1,
         {"COM4," + total(1, false)}, {3, 4}, "串口号状态已设为[使用中]:COM4,"},
        {"release warns once and lists what it released", {5, 7}, 3, 9, true, {kAnswerOk, kAnswerOk}, 0, 0, 0, 1,
         {kTextReleaseWarning, "COM5,COM7," + total(2, true)}, {}, "串口号状态已设为[未使用]:COM5,COM7,"},
        {"release cancelled at the warning changes nothing", {5}, 3, 9, true, {kAnswerCancel}, 0, 0, 0, 0,
         {kTextReleaseWarning}, {5}, "操作取消"},
        {"release of a free range needs no warning and changes nothing", {}, 3, 9, true, {kAnswerOk}, 0, 0, 0, 1,
         {total(0, true)}, {}, ""},
        {"failed claims are logged with the database error and named", {}, 3, 4, false, {kAnswerOk}, 5, 0, 0, 0,
         {"设定串口<使用中>状态失败.\n" + total(0, false) + "\n未能修改:COM3,COM4,"}, {},
         "ClaimPort COM4:Last Err(5)Access is denied."},
        {"another program claims a later number midway", {}, 3, 6, false, {kAnswerOk}, 0, 4, 5, 1,
         {"COM3,COM4,COM6," + total(3, false)}, {3, 4, 5, 6}, "串口号状态已设为[使用中]:COM3,COM4,COM6,"},
        {"another program releases a later number midway", {3, 4, 5, 6}, 3, 6, true, {kAnswerOk, kAnswerOk}, 0, 4, 5, 1,
         {kTextReleaseWarning, "COM3,COM4,COM6," + total(3, true)}, {}, "串口号状态已设为[未使用]:COM3,COM4,COM6,"},
        {"another program claims the very number being claimed: no failure", {}, 3, 5, false, {kAnswerOk}, 0, 4, 4, 1,
         {"COM3,COM5," + total(2, false)}, {3, 4, 5}, "串口号状态已设为[使用中]:COM3,COM5,"},
        {"a run holding the machine leaves the database alone", {}, 3, 4, false, {kAnswerOk}, 0, 0, 0, 0,
         {kTextMachineBusy}, {}, "另一个串口号修改正在进行,本次修改未开始."},
        {"the whole range's summary fits its buffer", {}, 3, 256, false, {kAnswerOk}, 0, 0, 0, 1,
         {Coms(3, 256) + total(254, false)}, fromCom3, "串口号状态已设为[使用中]:" + Coms(3, 256)},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelResetBoxes();
        for (unsigned n = 1; n <= 256; ++n)
            ModelComDbSetClaimed(n, false);
        for (unsigned n : c.claimedBefore)
            ModelComDbSetClaimed(n, true);
        ModelComDbFailWrites(c.failWrites);
        ModelComDbRival(c.rivalTrigger, c.rivalNumber);
        ModelSetRunLockHeldElsewhere(c.boxes.size() == 1 && c.boxes[0] == kTextMachineBusy);
        for (int answer : c.answers)
            ModelQueueAnswer(answer);
        EditSetText(dialog, IDC_LOG, "");
        int result = -1;
        WithUsageDialog([&](Window usage) {
            Choose(usage, IDC_USAGE_FROM, c.from);
            if (c.to == 0) {
                ComboSelectRow(usage, IDC_USAGE_TO, -1);
            } else {
                Choose(usage, IDC_USAGE_TO, c.to);
            }
            result = ApplyUsageRange(c.release);
            EXPECT_EQ(Row(usage, IDC_USAGE_TO, 4), ModelComDbIsClaimed(4) ? "COM4 In use" : "COM4") << "lists rebuilt";
            EXPECT_NE(ComboGetSelection(usage, IDC_USAGE_TO), -1);
        });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(BoxTexts(), c.boxes);
        for (int i = 0; i < ModelBoxCount(); ++i) {
            EXPECT_EQ(ModelBoxAt(i).kind, ModelBoxAt(i).text == kTextReleaseWarning ? kBoxWarningOkCancel : kBoxInfoOk);
            EXPECT_EQ(ModelBoxAt(i).caption, " Orvello");
            EXPECT_NE(ModelBoxAt(i).owner, dialog) << "owned by the usage dialog";
        }
        std::vector<unsigned> claimedAfter;
        for (unsigned n = 1; n <= 256; ++n) {
            if (ModelComDbIsClaimed(n))
                claimedAfter.push_back(n);
        }
        EXPECT_EQ(claimedAfter, c.claimedAfter);
        EXPECT_EQ(Contains(Log(), ">> " + c.logged + "\r\n"), !c.logged.empty()) << Log();
        EXPECT_EQ(Contains(Log(), "串口号状态已设为"), Contains(c.logged, "串口号状态已设为"))
            << "only changes are logged";
        EXPECT_FALSE(ModelRunLockOwned());
    }
}

}  // namespace

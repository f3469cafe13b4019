// The in-memory dialogs where they imitate Win32 beyond the portable tests:
// controls built from the layout table, missing controls and destroyed
// windows, radio groups, the edit limit, and the focus handed between a
// modal dialog and its owner. Expected sequences were taken from the same
// calls under Wine with Common Controls 6.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/model/model.h"
#include "resources/ids.h"
#include "tests/model/recorder.h"
#include "tests/support/harness.h"

namespace {

constexpr int kNoSuchId = 4242;

std::string ControlText(Window dialog, int id) {
    std::string text;
    return ModelControlText(dialog, id, &text) ? text : "<missing>";
}

class ModelWindows : public ::testing::Test {
protected:
    void SetUp() override {
        ModelReset();
        recorder.Clear();
        main = HarnessOpenDialog(IDD_MAIN, RecordingProc);
        ASSERT_NE(main, nullptr);
        recorder.Clear();
    }
    void TearDown() override { ModelReset(); }
    Window main = nullptr;
};

TEST_F(ModelWindows, ControlsStartAsTheLayoutDescribesThem) {
    std::string title;
    ASSERT_TRUE(ModelWindowTitle(main, &title));
    EXPECT_EQ(title, "Brevanto");
    EXPECT_EQ(ControlText(main, IDC_ENUMERATE), "枚举串口");
    std::string status;
    ASSERT_TRUE(ModelStatusText(main, IDC_STATUS, &status));
    EXPECT_EQ(status, "自定义1");
    EXPECT_EQ(ControlText(main, IDC_LOG), "");
    EXPECT_EQ(ModelEditLimit(main, IDC_LOG), 30000u);
    EXPECT_EQ(HarnessProgressMax(main, IDC_PROGRESS), 100);
    EXPECT_EQ(HarnessProgressPos(main, IDC_PROGRESS), 0);
    EXPECT_TRUE(IsControlEnabled(main, IDC_PLAN_HUB));
    EXPECT_FALSE(IsButtonChecked(main, IDC_SCOPE_CARD));
    EXPECT_EQ(ModelWindowIcon(main), 0);
    SetWindowIcons(main, IDI_KESTROVA);
    EXPECT_EQ(ModelWindowIcon(main), IDI_KESTROVA);
    // A combo box's edit field shows its selected row.
    ComboAddRow(main, IDC_START_NUMBER, "COM3");
    ComboSelectRow(main, IDC_START_NUMBER, 0);
    EXPECT_EQ(ControlText(main, IDC_START_NUMBER), "COM3");
    ComboSelectRow(main, IDC_START_NUMBER, 4);
    EXPECT_EQ(ControlText(main, IDC_START_NUMBER), "");
    EXPECT_EQ(HarnessProgressMax(main, kNoSuchId), -1);
}

TEST_F(ModelWindows, MissingControlsAndDestroyedWindowsAnswerAsAMissingControlDoes) {
    // SendDlgItemMessage answers 0 for a control that is not there.
    EXPECT_EQ(ListAddRow(main, kNoSuchId, "x"), 0);
    EXPECT_EQ(ListGetSelection(main, kNoSuchId), 0);
    EXPECT_EQ(ComboGetSelection(main, kNoSuchId), 0);
    EXPECT_EQ(ListGetCount(main, kNoSuchId), 0);
    EXPECT_FALSE(IsControlEnabled(main, kNoSuchId));
    EXPECT_FALSE(IsButtonChecked(main, kNoSuchId));
    // A list box message means nothing to a combo box, a click nothing to a list.
    EXPECT_EQ(ListAddRow(main, IDC_START_NUMBER, "COM1"), 0);
    EXPECT_EQ(ComboGetCount(main, IDC_START_NUMBER), 0);
    ClickButton(main, kNoSuchId);
    ClickButton(main, IDC_ADAPTER_LIST);
    SetControlFocus(main, kNoSuchId);
    EXPECT_EQ(recorder.Commands(main), Seen{});
    EXPECT_TRUE(HarnessHasFocus(main, IDC_CATEGORY));

    ListAddRow(main, IDC_PORT_LIST, "COM3");
    PostButtonClick(main, IDC_ENUMERATE);
    DestroyDialog(main);
    DestroyDialog(main);
    // The focused control lets go before the dialog hears it is destroyed, once.
    std::vector<std::tuple<unsigned, unsigned, unsigned>> seen;
    for (const Received& r : recorder.All()) {
        seen.emplace_back(r.message, r.id, r.code);
    }
    EXPECT_EQ(seen, (std::vector<std::tuple<unsigned, unsigned, unsigned>>{
                        {kMsgCommand, IDC_CATEGORY, kSelEndCancel},
                        {kMsgCommand, IDC_CATEGORY, kComboKillFocus},
                        {kMsgDestroy, 0, 0}}));
    EXPECT_FALSE(ModelIsWindow(main));

    recorder.Clear();
    HarnessPump();  // the click posted before the destroy is dropped
    ClickButton(main, IDC_ENUMERATE);
    SetControlFocus(main, IDC_START_NUMBER);
    EndModalDialog(main, 1);
    EXPECT_EQ(recorder.All().size(), 0u);
    EXPECT_EQ(ListGetCount(main, IDC_PORT_LIST), 0);
    char text[16];
    EXPECT_EQ(HarnessListText(main, IDC_PORT_LIST, 0, text, sizeof text), -1);
    EXPECT_EQ(HarnessWindowTitle(main, text, sizeof text), -1);
    EXPECT_FALSE(HarnessHasFocus(main, IDC_START_NUMBER));
}

TEST_F(ModelWindows, RadioGroupsFollowTheTemplateAndPassOverDisabledSiblings) {
    SetButtonChecked(main, IDC_SCOPE_PORT, true);
    SetButtonChecked(main, IDC_PLAN_SEQUENTIAL, true);
    SetButtonChecked(main, IDC_HUB_UP, true);
    // Checking an auto radio clears the rest of its group only.
    SetButtonChecked(main, IDC_SCOPE_CARD, true);
    EXPECT_FALSE(IsButtonChecked(main, IDC_SCOPE_PORT));
    EXPECT_TRUE(IsButtonChecked(main, IDC_PLAN_SEQUENTIAL));

    // A disabled radio is not visited when its group is cleared.
    SetButtonChecked(main, IDC_SCOPE_ALL, true);
    EXPECT_FALSE(IsButtonChecked(main, IDC_SCOPE_CARD));
    EnableControl(main, IDC_SCOPE_ALL, false);
    ClickButton(main, IDC_SCOPE_PORT);
    EXPECT_TRUE(IsButtonChecked(main, IDC_SCOPE_PORT));
    EXPECT_TRUE(IsButtonChecked(main, IDC_SCOPE_ALL));

    // The hub switch starts the next group: the plan radios leave it alone.
    ClickButton(main, IDC_PLAN_HUB);
    EXPECT_TRUE(IsButtonChecked(main, IDC_PLAN_HUB));
    EXPECT_FALSE(IsButtonChecked(main, IDC_PLAN_SEQUENTIAL));
    EXPECT_TRUE(IsButtonChecked(main, IDC_HUB_UP));

    // Unchecking touches one button; push buttons have no check.
    SetButtonChecked(main, IDC_PLAN_HUB, false);
    EXPECT_FALSE(IsButtonChecked(main, IDC_PLAN_HUB));
    SetButtonChecked(main, IDC_CHANGE, true);
    EXPECT_FALSE(IsButtonChecked(main, IDC_CHANGE));
}

TEST_F(ModelWindows, EditLimitCountsUtf16UnitsAndBindsOnlyAppending) {
    // A character beyond the basic plane takes two units.
    std::string faces;
    for (int i = 0; i < 14999; ++i) {
        faces += "😀";
    }
    EditAppendText(main, IDC_LOG, faces.c_str());
    EditAppendText(main, IDC_LOG, "😀😀");  // 2 units left: one fits, whole
    EditAppendText(main, IDC_LOG, "ab");
    EXPECT_TRUE(ControlText(main, IDC_LOG) == faces + "😀");

    // Setting the whole text is not cut.
    const std::string longText(31000, 'q');
    EditSetText(main, IDC_LOG, longText.c_str());
    EditAppendText(main, IDC_LOG, "more");
    EXPECT_TRUE(ControlText(main, IDC_LOG) == longText);

    EditRaiseLimit(main, IDC_LOG);
    EXPECT_EQ(ModelEditLimit(main, IDC_LOG), 0x7FFFFFFEu);
    EditAppendText(main, IDC_LOG, "more");
    EXPECT_TRUE(ControlText(main, IDC_LOG) == longText + "more");
}

// ---- modal dialogs ----

struct ModalScript {
    Window owner = nullptr;
    Window modal = nullptr;
    bool ownerEnabledWhileRunning = true;
    bool ownerFocusRefused = false;
    bool end = true;
    bool destroyInstead = false;
};
ModalScript script;

// The usage dialog's order on destroy: focus the owner's start-number combo,
// then end the dialog again.
intptr_t KESTROVA_CALLBACK UsageLikeProc(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    RecordingProc(window, message, wParam, lParam);
    if (message == kMsgDestroy) {
        SetControlFocus(script.owner, IDC_START_NUMBER);
        EndModalDialog(window, 0);
    }
    return 0;
}

void Drive(Window modal, void*) {
    script.modal = modal;
    script.ownerEnabledWhileRunning = ModelIsDialogEnabled(script.owner);
    // SetFocus refuses a control of a disabled window.
    SetControlFocus(script.owner, IDC_ADAPTER_LIST);
    script.ownerFocusRefused = !HarnessHasFocus(script.owner, IDC_ADAPTER_LIST);
    if (script.destroyInstead) {
        DestroyDialog(modal);
    } else if (script.end) {
        EndModalDialog(modal, 5);
    }
}

using Step = std::tuple<bool, unsigned, unsigned, unsigned>;  // from the modal dialog?, message, id, code

std::vector<Step> Steps(Window owner) {
    std::vector<Step> steps;
    for (const Received& r : recorder.All()) {
        steps.emplace_back(r.window != owner, r.message, r.id, r.code);
    }
    return steps;
}

class ModelModal : public ModelWindows {
protected:
    void SetUp() override {
        ModelWindows::SetUp();
        script = ModalScript{};
        script.owner = main;
        HarnessSetModalDriver(IDD_USAGE, Drive, nullptr);
    }
};

TEST_F(ModelModal, FocusMovesIntoTheModalDialogAndBackToTheOwner) {
    SetControlFocus(main, IDC_START_NUMBER);
    recorder.Clear();
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, UsageLikeProc), 5);

    constexpr bool kModal = true;
    constexpr bool kOwner = false;
    EXPECT_EQ(Steps(main), (std::vector<Step>{
                               {kModal, kMsgInitDialog, 0, 0},
                               // shown: the owner's combo lets go, the first tab stop takes the focus
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kSelEndCancel},
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kComboKillFocus},
                               {kModal, kMsgCommand, IDC_USAGE_FROM, kComboSetFocus},
                               // ended: the focus leaves it and returns to the owner's combo
                               {kModal, kMsgCommand, IDC_USAGE_FROM, kSelEndCancel},
                               {kModal, kMsgCommand, IDC_USAGE_FROM, kComboKillFocus},
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kComboSetFocus},
                               // destroyed: focusing the focused combo passes through losing it
                               {kModal, kMsgDestroy, 0, 0},
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kSelEndCancel},
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kComboKillFocus},
                               {kOwner, kMsgCommand, IDC_START_NUMBER, kComboSetFocus},
                           }));
    EXPECT_FALSE(script.ownerEnabledWhileRunning);
    EXPECT_TRUE(script.ownerFocusRefused);
    EXPECT_TRUE(ModelIsDialogEnabled(main));
    EXPECT_FALSE(ModelIsWindow(script.modal));
    EXPECT_TRUE(HarnessHasFocus(main, IDC_START_NUMBER));
}

TEST_F(ModelModal, OwnerGetsBackTheButtonThatHadTheFocus) {
    ClickButton(main, IDC_USAGE);
    recorder.Clear();
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, UsageLikeProc), 5);
    // Only the destroy handler's focus reaches the start-number combo.
    EXPECT_EQ(recorder.Commands(main), (Seen{{IDC_START_NUMBER, kComboSetFocus}}));
}

TEST_F(ModelModal, ResultsOfDialogsNotEndedByTheirDriver) {
    script.end = false;
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, UsageLikeProc), 2);
    EXPECT_EQ(recorder.Count(script.modal, kMsgDestroy), 1);

    HarnessSetModalDriver(IDD_USAGE, nullptr, nullptr);
    recorder.Clear();
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, RecordingProc), 2);
    Window undriven = recorder.All().front().window;
    EXPECT_NE(undriven, script.modal);
    EXPECT_EQ(recorder.Count(undriven, kMsgInitDialog), 1);
    EXPECT_EQ(recorder.Count(undriven, kMsgDestroy), 1);

    // Destroyed instead of ended: DialogBox gives 0.
    HarnessSetModalDriver(IDD_USAGE, Drive, nullptr);
    script.destroyInstead = true;
    EXPECT_EQ(RunModalDialog(IDD_USAGE, main, RecordingProc), 0);
    EXPECT_TRUE(ModelIsDialogEnabled(main));

    EXPECT_EQ(RunModalDialog(9999, main, RecordingProc), -1);
    EXPECT_TRUE(ModelIsDialogEnabled(main));
}

}  // namespace

// Consistency of the dialog layout tables, which the in-memory platform uses
// in place of the real templates.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "resources/ids.h"
#include "resources/layout.h"

namespace {

constexpr std::uint32_t kChildVisible = 0x50000000;  // WS_CHILD | WS_VISIBLE
constexpr std::uint32_t kGroup = 0x00020000;         // WS_GROUP

const DialogLayout& Layout(int templateId) {
    const DialogLayout* layout = FindDialogLayout(templateId);
    EXPECT_NE(layout, nullptr) << templateId;
    static const DialogLayout kEmpty{};
    return layout ? *layout : kEmpty;
}

// Radio groups as the dialog manager sees them: each runs from a control with
// WS_GROUP to the next one; only its radio buttons are kept.
std::vector<std::vector<int>> RadioGroups(const DialogLayout& layout) {
    std::vector<std::vector<int>> groups;
    std::vector<int> current;
    for (const ControlLayout& c : layout.controls) {
        if (c.groupStart && !current.empty()) {
            groups.push_back(current);
            current.clear();
        }
        if (c.kind == ControlKind::AutoRadio) current.push_back(c.id);
    }
    if (!current.empty()) groups.push_back(current);
    return groups;
}

// The control type bits (low nibble for buttons and statics) each kind needs.
bool KindMatchesStyle(ControlKind kind, std::uint32_t style) {
    switch (kind) {
    case ControlKind::Static: return (style & 0x1F) == 0x0;  // SS_LEFT
    case ControlKind::Icon: return (style & 0x1F) == 0x3;    // SS_ICON
    case ControlKind::GroupBox: return (style & 0xF) == 0x7;
    case ControlKind::PushButton: return (style & 0xF) == 0x0;
    case ControlKind::DefaultPushButton: return (style & 0xF) == 0x1;
    case ControlKind::AutoRadio: return (style & 0xF) == 0x9;
    case ControlKind::AutoCheck: return (style & 0xF) == 0x3;
    case ControlKind::ListBox: return (style & 0x101) == 0x101;  // LBS_NOTIFY | LBS_NOINTEGRALHEIGHT
    case ControlKind::ComboBox: return (style & 0x3) == 0x2;     // CBS_DROPDOWN
    case ControlKind::Edit: return (style & 0x4) == 0x4;         // ES_MULTILINE
    case ControlKind::Progress: return (style & 0x1) == 0x1;     // PBS_SMOOTH
    case ControlKind::StatusBar: return (style & 0xC) == 0xC;    // CCS_NORESIZE | CCS_NOPARENTALIGN
    }
    return false;
}

TEST(LayoutTable, KnowsTheThreeTemplatesOnly) {
    EXPECT_STREQ(Layout(IDD_MAIN).caption, "Brevanto");
    EXPECT_EQ(Layout(IDD_MAIN).width, 556);
    EXPECT_EQ(Layout(IDD_MAIN).height, 358);
    EXPECT_STREQ(Layout(IDD_USAGE).caption, "Com Port Num Usage Manager(COMDB)");
    EXPECT_EQ(Layout(IDD_USAGE).width, 296);
    EXPECT_EQ(Layout(IDD_USAGE).height, 80);
    EXPECT_STREQ(Layout(IDD_ABOUT).caption, "关于 Kestrova");
    EXPECT_EQ(Layout(IDD_ABOUT).width, 170);
    EXPECT_EQ(Layout(IDD_ABOUT).height, 62);
    EXPECT_EQ(FindDialogLayout(IDR_MAIN_MENU), nullptr);
    EXPECT_EQ(FindDialogLayout(0), nullptr);
}

TEST(LayoutTable, MainDialogHasEveryControlOnce) {
    const std::set<int> expected = {
        IDC_HELP_TEXT, IDC_MAIN_ICON, IDC_CATEGORY, IDC_ENUMERATE, IDC_ORDER, IDC_ADAPTER_LIST,
        IDC_PORT_LIST, IDC_SCOPE_PORT, IDC_SCOPE_CARD, IDC_SCOPE_ALL, IDC_START_NUMBER,
        IDC_PLAN_SEQUENTIAL, IDC_PLAN_HUB, IDC_HUB_UP, IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3,
        IDC_UP_PORT4, IDC_UP_PORT5, IDC_UP_PORT6, IDC_UP_PORT7, IDC_UP_PORT8, IDC_HUB_DOWN,
        IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3, IDC_DOWN_PORT4, IDC_DOWN_PORT5,
        IDC_DOWN_PORT6, IDC_DOWN_PORT7, IDC_DOWN_PORT8, IDC_CHANGE, IDC_USAGE, IDC_DEVICE_MANAGER,
        IDC_PROGRESS, IDC_LOG, IDC_CLEAR, IDC_STATUS};
    std::multiset<int> ids;
    int unnamed = 0;
    for (const ControlLayout& c : Layout(IDD_MAIN).controls) {
        if (c.id == -1) ++unnamed;
        else ids.insert(c.id);
    }
    EXPECT_EQ(ids, std::multiset<int>(expected.begin(), expected.end()));
    EXPECT_EQ(unnamed, 5);  // two labels, three group boxes
}

TEST(LayoutTable, UsageDialogHasEveryControlOnce) {
    std::multiset<int> ids;
    for (const ControlLayout& c : Layout(IDD_USAGE).controls) {
        if (c.id != -1) ids.insert(c.id);
    }
    EXPECT_EQ(ids, (std::multiset<int>{IDC_USAGE_WARNING, IDC_USAGE_FROM, IDC_USAGE_TO, IDC_USAGE_REFRESH,
                                       IDC_USAGE_RELEASE, IDC_USAGE_CLAIM}));
}

TEST(LayoutTable, RadioGroupsAreTheScopeAndThePlan) {
    const std::vector<std::vector<int>> expected = {
        {IDC_SCOPE_PORT, IDC_SCOPE_CARD, IDC_SCOPE_ALL},
        {IDC_PLAN_SEQUENTIAL, IDC_PLAN_HUB},
    };
    EXPECT_EQ(RadioGroups(Layout(IDD_MAIN)), expected);
    EXPECT_TRUE(RadioGroups(Layout(IDD_USAGE)).empty());
    EXPECT_TRUE(RadioGroups(Layout(IDD_ABOUT)).empty());
}

TEST(LayoutTable, StylesAgreeWithKindsAndGroups) {
    for (int templateId : {IDD_MAIN, IDD_USAGE, IDD_ABOUT}) {
        const DialogLayout& layout = Layout(templateId);
        for (const ControlLayout& c : layout.controls) {
            SCOPED_TRACE(testing::Message() << "template " << templateId << ", control " << c.id << " "
                                            << c.text);
            EXPECT_EQ(c.style & kChildVisible, kChildVisible);
            EXPECT_TRUE(KindMatchesStyle(c.kind, c.style)) << std::hex << c.style;
            EXPECT_EQ(c.groupStart, (c.style & kGroup) != 0);
            ASSERT_NE(c.text, nullptr);
        }
    }
}

TEST(LayoutTable, ControlsLieInsideTheirDialog) {
    for (int templateId : {IDD_MAIN, IDD_USAGE, IDD_ABOUT}) {
        const DialogLayout& layout = Layout(templateId);
        for (const ControlLayout& c : layout.controls) {
            SCOPED_TRACE(testing::Message() << "template " << templateId << ", control " << c.id << " "
                                            << c.text);
            EXPECT_GE(c.x, 0);
            EXPECT_GE(c.y, 0);
            EXPECT_LE(c.x + c.width, layout.width);
            // A combo box's height is that of its open list, which may reach
            // past the dialog.
            if (c.kind != ControlKind::ComboBox) {
                EXPECT_LE(c.y + c.height, layout.height);
            }
        }
    }
}

}  // namespace

// The controls of kestrova.rc's dialogs, in template order. The styles are
// the ones the windows carry once the dialog exists, which differ from the
// template in two ways: the dialog manager turns WS_BORDER into the client
// edge extended style, and a list or combo box keeps no WS_VSCROLL of its own
// (a list box shows its scroll bar, and sets the bit, only while its rows
// overflow; a combo box hands the bit to its drop-down list).
#include "resources/layout.h"

#include <array>

#include "resources/ids.h"

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#endif

namespace {

// Window style bits, spelled out so that the native build needs no system
// headers; the Windows build checks them against the system's below.
constexpr std::uint32_t kWsChild = 0x40000000;
constexpr std::uint32_t kWsVisible = 0x10000000;
constexpr std::uint32_t kWsVScroll = 0x00200000;
constexpr std::uint32_t kWsGroup = 0x00020000;
constexpr std::uint32_t kWsTabStop = 0x00010000;
constexpr std::uint32_t kWsPopup = 0x80000000;
constexpr std::uint32_t kWsCaption = 0x00C00000;
constexpr std::uint32_t kWsSysMenu = 0x00080000;
constexpr std::uint32_t kWsThickFrame = 0x00040000;
constexpr std::uint32_t kWsMinimizeBox = 0x00020000;
constexpr std::uint32_t kWsMaximizeBox = 0x00010000;
constexpr std::uint32_t kDsSetFont = 0x00000040;
constexpr std::uint32_t kDsModalFrame = 0x00000080;
constexpr std::uint32_t kDsCenter = 0x00000800;
constexpr std::uint32_t kSsLeft = 0x00000000;
constexpr std::uint32_t kSsIcon = 0x00000003;
constexpr std::uint32_t kSsNoPrefix = 0x00000080;
constexpr std::uint32_t kBsPushButton = 0x00000000;
constexpr std::uint32_t kBsDefPushButton = 0x00000001;
constexpr std::uint32_t kBsAutoCheckBox = 0x00000003;
constexpr std::uint32_t kBsGroupBox = 0x00000007;
constexpr std::uint32_t kBsAutoRadioButton = 0x00000009;
constexpr std::uint32_t kBsTop = 0x00000400;
constexpr std::uint32_t kBsMultiLine = 0x00002000;
constexpr std::uint32_t kCbsDropDown = 0x00000002;
constexpr std::uint32_t kLbsNotify = 0x00000001;
constexpr std::uint32_t kLbsNoIntegralHeight = 0x00000100;
constexpr std::uint32_t kEsMultiLine = 0x00000004;
constexpr std::uint32_t kEsAutoVScroll = 0x00000040;
constexpr std::uint32_t kEsAutoHScroll = 0x00000080;
constexpr std::uint32_t kEsWantReturn = 0x00001000;
constexpr std::uint32_t kPbsSmooth = 0x00000001;
constexpr std::uint32_t kCcsNoResize = 0x00000004;
constexpr std::uint32_t kCcsNoParentAlign = 0x00000008;

// The styles the table uses, each with the bits every control has.
constexpr std::uint32_t kShown = kWsChild | kWsVisible;
constexpr std::uint32_t kLabel = kShown | kSsLeft | kWsGroup;
constexpr std::uint32_t kIcon = kShown | kSsIcon;
constexpr std::uint32_t kCombo = kShown | kCbsDropDown | kWsTabStop;
constexpr std::uint32_t kList = kShown | kLbsNotify | kLbsNoIntegralHeight | kWsTabStop;
constexpr std::uint32_t kButton = kShown | kBsPushButton | kWsTabStop;
constexpr std::uint32_t kGroupBox = kShown | kBsGroupBox;
constexpr std::uint32_t kRadio = kShown | kBsAutoRadioButton;
constexpr std::uint32_t kCheck = kShown | kBsAutoCheckBox | kWsTabStop;

using K = ControlKind;

constexpr auto kMainControls = std::to_array<ControlLayout>({
    {IDC_HELP_TEXT, K::Static,
     "软件说明:\r\n    软件用于修改串口的串口号.支持TAV USB/PCI/E/BLEl转一串和多串的串口号单个或批量修改.\r\n"
     "          更改前，需关闭使用串口的应用程序,如果设备管理器内的串口设备前有黄色惊叹号,"
     "可能是由于有多设备在使用同一串口号，需要更改至未使用的串口号.",
     8, 4, 542, 28, kLabel, true},
    {IDC_MAIN_ICON, K::Icon, "", 13, 12, 20, 20, kIcon, false},
    {IDC_CATEGORY, K::ComboBox, "", 8, 39, 201, 126, kCombo, false},
    {IDC_ENUMERATE, K::PushButton, "枚举串口", 214, 37, 64, 16, kButton, false},
    {-1, K::Static, "串口卡排列顺序:", 282, 42, 51, 7, kLabel, true},
    {IDC_ORDER, K::ComboBox, "", 336, 39, 64, 172, kCombo, false},
    {-1, K::GroupBox, "多串口卡", 8, 53, 201, 124, kGroupBox, false},
    {IDC_ADAPTER_LIST, K::ListBox, "", 8, 62, 200, 123, kList, false},
    {-1, K::GroupBox, "串口", 208, 53, 194, 124, kGroupBox, false},
    {IDC_PORT_LIST, K::ListBox, "", 209, 62, 193, 123, kList, false},
    {-1, K::GroupBox, "", 405, 37, 144, 164, kGroupBox, false},
    {IDC_SCOPE_PORT, K::AutoRadio, "更改当前选中串口", 410, 46, 83, 8,
     kRadio | kBsMultiLine | kBsTop | kWsGroup | kWsTabStop, true},
    {IDC_SCOPE_CARD, K::AutoRadio, "更改当前选中的多串口卡", 410, 55, 107, 8, kRadio | kBsMultiLine, false},
    {IDC_SCOPE_ALL, K::AutoRadio, "更改所有多串口卡", 410, 64, 83, 8, kRadio | kBsMultiLine, false},
    {-1, K::Static, "起始串口号:", 412, 80, 39, 8, kLabel, true},
    {IDC_START_NUMBER, K::ComboBox, "", 453, 78, 89, 281, kCombo, false},
    {IDC_PLAN_SEQUENTIAL, K::AutoRadio, "从起始串口号开始,依次递增", 411, 90, 122, 9, kRadio | kWsGroup | kWsTabStop,
     true},
    {IDC_PLAN_HUB, K::AutoRadio, "从起始串口开始，根据HUB位置设定串口号.位置包含:", 411, 99, 135, 14,
     kRadio | kBsMultiLine, false},
    {IDC_HUB_UP, K::AutoCheck, "Hub上游口:", 420, 115, 59, 7, kCheck | kWsGroup, true},
    {IDC_UP_PORT1, K::AutoCheck, "1", 425, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT2, K::AutoCheck, "2", 440, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT3, K::AutoCheck, "3", 455, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT4, K::AutoCheck, "4", 470, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT5, K::AutoCheck, "5", 485, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT6, K::AutoCheck, "6", 500, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT7, K::AutoCheck, "7", 515, 122, 14, 8, kCheck, false},
    {IDC_UP_PORT8, K::AutoCheck, "8", 530, 122, 14, 8, kCheck, false},
    {IDC_HUB_DOWN, K::AutoCheck, "Hub下游口:", 420, 130, 59, 7, kCheck, false},
    {IDC_DOWN_PORT1, K::AutoCheck, "1", 425, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT2, K::AutoCheck, "2", 440, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT3, K::AutoCheck, "3", 455, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT4, K::AutoCheck, "4", 470, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT5, K::AutoCheck, "5", 485, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT6, K::AutoCheck, "6", 500, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT7, K::AutoCheck, "7", 515, 137, 14, 8, kCheck, false},
    {IDC_DOWN_PORT8, K::AutoCheck, "8", 530, 137, 14, 8, kCheck, false},
    {IDC_CHANGE, K::PushButton, "更改串口号", 411, 147, 134, 16, kButton | kWsGroup, true},
    {IDC_USAGE, K::PushButton, "串口号 使用状态 管理", 411, 164, 134, 16, kButton, false},
    {IDC_DEVICE_MANAGER, K::PushButton, "..显示设备管理器..", 411, 181, 134, 16, kButton, false},
    {IDC_PROGRESS, K::Progress, "", 7, 187, 394, 14, kShown | kPbsSmooth, false},
    {IDC_LOG, K::Edit, "", 9, 203, 540, 123,
     kShown | kEsMultiLine | kEsAutoVScroll | kEsAutoHScroll | kEsWantReturn | kWsVScroll | kWsTabStop, false},
    {IDC_CLEAR, K::PushButton, "清空显示", 485, 327, 64, 16, kButton, false},
    {IDC_STATUS, K::StatusBar, "自定义1", 3, 344, 551, 14, kShown | kCcsNoParentAlign | kCcsNoResize, false},
});

constexpr auto kUsageControls = std::to_array<ControlLayout>({
    {IDC_USAGE_WARNING, K::Static,
     "！！！！操作前务必确认好所操作串口号为未使用串口。如果强行将串口号设为<未使用>状态，"
     "可能会造成串口号冲突而引起设备无法工作。请谨慎操作!",
     14, 5, 273, 21, kLabel, true},
    {-1, K::Static, "串口号范围:从", 16, 31, 44, 8, kLabel, true},
    {IDC_USAGE_FROM, K::ComboBox, "", 63, 29, 65, 281, kCombo, false},
    {-1, K::Static, "至", 132, 31, 12, 8, kLabel, true},
    {IDC_USAGE_TO, K::ComboBox, "", 146, 29, 65, 281, kCombo, false},
    {IDC_USAGE_REFRESH, K::PushButton, "刷新", 214, 27, 63, 16, kButton, false},
    {IDC_USAGE_RELEASE, K::PushButton, "设置串口号状态为\"空闲\"", 63, 46, 102, 16, kButton, false},
    {IDC_USAGE_CLAIM, K::PushButton, "设置串口号状态为\"使用中\"", 175, 46, 102, 16, kButton, false},
});

constexpr auto kAboutControls = std::to_array<ControlLayout>({
    {-1, K::Icon, "", 14, 14, 20, 20, kIcon, false},
    {-1, K::Static, "Kestrova，1.0 版", 42, 14, 114, 8, kLabel | kSsNoPrefix, true},
    {-1, K::Static, "串口号批量修改工具", 42, 26, 114, 8, kLabel, true},
    {1, K::DefaultPushButton, "确定", 113, 41, 50, 14, kShown | kBsDefPushButton | kWsGroup | kWsTabStop, true},
});

constexpr std::array<DialogLayout, 3> kDialogs = {{
    {IDD_MAIN, "Brevanto", 556, 358, "微软雅黑", 9,
     kWsPopup | kWsCaption | kWsSysMenu | kWsMinimizeBox | kWsThickFrame | kDsCenter | kDsSetFont, kMainControls},
    {IDD_USAGE, "Com Port Num Usage Manager(COMDB)", 296, 80, "微软雅黑", 9,
     kWsPopup | kWsCaption | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox | kWsThickFrame | kDsCenter | kDsSetFont,
     kUsageControls},
    {IDD_ABOUT, "关于 Kestrova", 170, 62, "MS Shell Dlg", 9,
     kWsPopup | kWsCaption | kWsSysMenu | kDsModalFrame | kDsSetFont, kAboutControls},
}};

// ---- the tables' own rules, checked by the compiler ----

// The type bits each kind needs.
constexpr bool KindMatchesStyle(ControlKind kind, std::uint32_t style) {
    switch (kind) {
    case K::Static:
        return (style & 0x1F) == kSsLeft;
    case K::Icon:
        return (style & 0x1F) == kSsIcon;
    case K::GroupBox:
        return (style & 0xF) == kBsGroupBox;
    case K::PushButton:
        return (style & 0xF) == kBsPushButton;
    case K::DefaultPushButton:
        return (style & 0xF) == kBsDefPushButton;
    case K::AutoRadio:
        return (style & 0xF) == kBsAutoRadioButton;
    case K::AutoCheck:
        return (style & 0xF) == kBsAutoCheckBox;
    case K::ListBox:
        return (style & kList) == kList;
    case K::ComboBox:
        return (style & 0x3) == kCbsDropDown;
    case K::Edit:
        return (style & kEsMultiLine) != 0;
    case K::Progress:
        return (style & kPbsSmooth) != 0;
    case K::StatusBar:
        return (style & (kCcsNoResize | kCcsNoParentAlign)) == (kCcsNoResize | kCcsNoParentAlign);
    }
    return false;
}

// Every control is shown, has a text, styles that fit its kind, groupStart
// equal to WS_GROUP (kept apart for readers that do not decode styles), an id
// of its own, and lies inside its dialog (a combo box's height is that of its
// open list, which may reach past the dialog).
constexpr bool Sound(const DialogLayout& dialog) {
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlLayout& c = dialog.controls[i];
        if ((c.style & kShown) != kShown || c.text == nullptr || !KindMatchesStyle(c.kind, c.style) ||
            c.groupStart != ((c.style & kWsGroup) != 0) || c.x < 0 || c.y < 0 || c.x + c.width > dialog.width ||
            (c.kind != K::ComboBox && c.y + c.height > dialog.height)) {
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (c.id != -1 && dialog.controls[j].id == c.id)
                return false;
        }
    }
    return true;
}

// The radio buttons in template order, a 0 after each group: a group runs from
// a control with WS_GROUP to the next one, as the dialog manager sees it.
constexpr bool RadioGroupsAre(std::span<const ControlLayout> controls, std::span<const int> expected) {
    size_t at = 0;
    bool open = false;
    auto next = [&](int id) { return at < expected.size() && expected[at++] == id; };
    for (const ControlLayout& c : controls) {
        if (c.groupStart && open) {
            if (!next(0))
                return false;
            open = false;
        }
        if (c.kind == K::AutoRadio) {
            if (!next(c.id))
                return false;
            open = true;
        }
    }
    return (!open || next(0)) && at == expected.size();
}

constexpr int kMainRadios[] = {IDC_SCOPE_PORT, IDC_SCOPE_CARD, IDC_SCOPE_ALL, 0, IDC_PLAN_SEQUENTIAL, IDC_PLAN_HUB, 0};

static_assert(Sound(kDialogs[0]) && Sound(kDialogs[1]) && Sound(kDialogs[2]));
static_assert(RadioGroupsAre(kMainControls, kMainRadios) && RadioGroupsAre(kUsageControls, {}) &&
              RadioGroupsAre(kAboutControls, {}));

}  // namespace

#ifdef _WIN32
static_assert(kWsChild == WS_CHILD && kWsVisible == WS_VISIBLE && kWsVScroll == WS_VSCROLL);
static_assert(kWsGroup == WS_GROUP && kWsTabStop == WS_TABSTOP && kWsPopup == WS_POPUP);
static_assert(kWsCaption == WS_CAPTION && kWsSysMenu == WS_SYSMENU && kWsThickFrame == WS_THICKFRAME);
static_assert(kWsMinimizeBox == WS_MINIMIZEBOX && kWsMaximizeBox == WS_MAXIMIZEBOX);
static_assert(kDsSetFont == DS_SETFONT && kDsModalFrame == DS_MODALFRAME && kDsCenter == DS_CENTER);
static_assert(kSsLeft == SS_LEFT && kSsIcon == SS_ICON && kSsNoPrefix == SS_NOPREFIX);
static_assert(kBsPushButton == BS_PUSHBUTTON && kBsDefPushButton == BS_DEFPUSHBUTTON);
static_assert(kBsAutoCheckBox == BS_AUTOCHECKBOX && kBsGroupBox == BS_GROUPBOX);
static_assert(kBsAutoRadioButton == BS_AUTORADIOBUTTON && kBsTop == BS_TOP && kBsMultiLine == BS_MULTILINE);
static_assert(kCbsDropDown == CBS_DROPDOWN && kLbsNotify == LBS_NOTIFY && kLbsNoIntegralHeight == LBS_NOINTEGRALHEIGHT);
static_assert(kEsMultiLine == ES_MULTILINE && kEsAutoVScroll == ES_AUTOVSCROLL && kEsAutoHScroll == ES_AUTOHSCROLL);
static_assert(kEsWantReturn == ES_WANTRETURN && kPbsSmooth == PBS_SMOOTH);
static_assert(kCcsNoResize == CCS_NORESIZE && kCcsNoParentAlign == CCS_NOPARENTALIGN);
#endif

const DialogLayout* FindDialogLayout(int templateId) {
    for (const DialogLayout& dialog : kDialogs) {
        if (dialog.templateId == templateId)
            return &dialog;
    }
    return nullptr;
}

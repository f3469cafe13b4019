// The compiled resources against the layout tables and the texts they must
// carry: each dialog is created from its template and every window Windows
// makes is compared with its table row; then the string table, menu,
// accelerators, icons, version record and manifest.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "resources/ids.h"
#include "resources/layout.h"
#include "resources/strings.h"

namespace {

HINSTANCE Module() { return GetModuleHandleW(nullptr); }

std::string Utf8(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Utf8(text);
}

std::string ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Utf8(name);
}

const char* ExpectedClass(ControlKind kind) {
    switch (kind) {
    case ControlKind::Static:
    case ControlKind::Icon: return "Static";
    case ControlKind::GroupBox:
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton:
    case ControlKind::AutoRadio:
    case ControlKind::AutoCheck: return "Button";
    case ControlKind::ListBox: return "ListBox";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::Edit: return "Edit";
    case ControlKind::Progress: return "msctls_progress32";
    case ControlKind::StatusBar: return "msctls_statusbar32";
    }
    return "";
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// A dialog created from its template, modeless, destroyed at scope end.
struct OpenDialog {
    HWND window;
    explicit OpenDialog(int templateId)
        : window(CreateDialogParamW(Module(), MAKEINTRESOURCEW(templateId), nullptr, InertDialogProc, 0)) {}
    ~OpenDialog() {
        if (window) DestroyWindow(window);
    }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;
};

class ResourceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&classes));
    }
};

// A DIALOGEX template as stored: the header and each item.
struct TemplateItem {
    DWORD exStyle = 0, style = 0;
    int x = 0, y = 0, width = 0, height = 0, id = 0;
};
struct DialogTemplate {
    DWORD style = 0;
    int width = 0, height = 0;
    int fontPoints = 0;
    std::string fontName;
    std::string caption;
    std::vector<TemplateItem> items;
};

const WORD* SkipSzOrOrd(const WORD* p) {
    if (*p == 0xFFFF) return p + 2;
    while (*p) ++p;
    return p + 1;
}

const WORD* AlignDword(const WORD* p) {
    return reinterpret_cast<const WORD*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t{3});
}

DWORD ReadDword(const WORD* p) {
    DWORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

bool ReadTemplate(int templateId, DialogTemplate* out) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(templateId), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!found) return false;
    const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(Module(), found)));
    if (!p || p[0] != 1 || p[1] != 0xFFFF) return false;  // dlgVer 1, signature: DIALOGEX
    out->style = ReadDword(p + 6);                          // after helpID and exStyle
    const int count = p[8];
    out->width = static_cast<short>(p[11]);
    out->height = static_cast<short>(p[12]);
    p = SkipSzOrOrd(p + 13);                                // menu
    p = SkipSzOrOrd(p);                                     // class
    out->caption = Utf8(reinterpret_cast<const wchar_t*>(p));
    p = SkipSzOrOrd(p);
    if (out->style & DS_SETFONT) {
        out->fontPoints = p[0];
        out->fontName = Utf8(reinterpret_cast<const wchar_t*>(p + 3));  // after weight, italic and charset
        p = SkipSzOrOrd(p + 3);
    }
    for (int i = 0; i < count; ++i) {
        p = AlignDword(p);
        TemplateItem item;
        item.exStyle = ReadDword(p + 2);                    // after helpID
        item.style = ReadDword(p + 4);
        item.x = static_cast<short>(p[6]);
        item.y = static_cast<short>(p[7]);
        item.width = static_cast<short>(p[8]);
        item.height = static_cast<short>(p[9]);
        item.id = static_cast<int>(ReadDword(p + 10));
        p = SkipSzOrOrd(p + 12);                            // class
        p = SkipSzOrOrd(p);                                 // title
        p += 1 + *p / sizeof(WORD);                         // creation data
        out->items.push_back(item);
    }
    return true;
}

// Pixel rectangle of a control relative to the dialog's client area.
RECT ClientRect(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Origin and size of a table row in pixels; width and height are mapped on
// their own, as the dialog manager does when it creates the control.
RECT PixelRect(HWND dialog, const ControlLayout& c) {
    RECT r{c.x, c.y, c.width, c.height};
    MapDialogRect(dialog, &r);
    return r;
}

void ExpectPlacedAt(HWND dialog, HWND control, const ControlLayout& c) {
    const RECT want = PixelRect(dialog, c);
    const RECT got = ClientRect(dialog, control);
    EXPECT_EQ(got.left, want.left);
    EXPECT_EQ(got.top, want.top);
    switch (c.kind) {
    case ControlKind::Icon:
        // An icon static takes the size of its icon.
        EXPECT_EQ(got.right - got.left, GetSystemMetrics(SM_CXICON));
        EXPECT_EQ(got.bottom - got.top, GetSystemMetrics(SM_CYICON));
        break;
    case ControlKind::ComboBox:
        // The window is the closed combo; the table's height, that of the
        // open list, is compared in the template.
        EXPECT_EQ(got.right - got.left, want.right);
        break;
    default:
        EXPECT_EQ(got.right - got.left, want.right);
        EXPECT_EQ(got.bottom - got.top, want.bottom);
        break;
    }
}

// Compares the dialog created from templateId with its table, control by
// control in template (Z) order.
void ExpectDialogMatchesTable(int templateId) {
    const DialogLayout* layout = FindDialogLayout(templateId);
    ASSERT_NE(layout, nullptr);
    DialogTemplate stored;
    ASSERT_TRUE(ReadTemplate(templateId, &stored));
    EXPECT_EQ(stored.style, layout->style);
    EXPECT_EQ(stored.width, layout->width);
    EXPECT_EQ(stored.height, layout->height);
    EXPECT_EQ(stored.fontName, layout->fontName);
    EXPECT_EQ(stored.fontPoints, layout->fontPoints);
    EXPECT_EQ(stored.caption, layout->caption);
    ASSERT_EQ(stored.items.size(), layout->controls.size());
    for (size_t i = 0; i < stored.items.size(); ++i) {
        const TemplateItem& item = stored.items[i];
        const ControlLayout& c = layout->controls[i];
        SCOPED_TRACE(testing::Message() << "template " << templateId << ", item " << i << ", id " << c.id);
        EXPECT_EQ(static_cast<int>(static_cast<short>(item.id)), c.id);
        EXPECT_EQ(item.x, c.x);
        EXPECT_EQ(item.y, c.y);
        EXPECT_EQ(item.width, c.width);
        EXPECT_EQ(item.height, c.height);
        EXPECT_EQ((item.style & WS_GROUP) != 0, c.groupStart);
    }

    OpenDialog dialog(templateId);
    ASSERT_NE(dialog.window, nullptr) << GetLastError();
    EXPECT_EQ(WindowText(dialog.window), layout->caption);
    const DWORD windowStyle = static_cast<DWORD>(GetWindowLongW(dialog.window, GWL_STYLE));
    EXPECT_EQ(windowStyle & layout->style, layout->style) << std::hex << windowStyle;
    RECT client;
    GetClientRect(dialog.window, &client);
    RECT size{0, 0, layout->width, layout->height};
    MapDialogRect(dialog.window, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    HWND control = GetWindow(dialog.window, GW_CHILD);
    for (size_t i = 0; i < layout->controls.size(); ++i) {
        const ControlLayout& c = layout->controls[i];
        SCOPED_TRACE(testing::Message() << "template " << templateId << ", row " << i << ", id " << c.id << " "
                                        << c.text);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(control))), c.id);
        EXPECT_EQ(ClassName(control), ExpectedClass(c.kind));
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)), c.style)
            << std::hex << GetWindowLongW(control, GWL_STYLE) << " != " << c.style;
        if (c.kind == ControlKind::Icon) {
            EXPECT_NE(SendMessageW(control, STM_GETICON, 0, 0), 0);
        } else if (c.kind != ControlKind::ComboBox) {
            EXPECT_EQ(WindowText(control), c.text);
        }
        ExpectPlacedAt(dialog.window, control, c);
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "more windows than table rows";
}

bool HasExStyle(HWND dialog, int id, DWORD bits) {
    return (static_cast<DWORD>(GetWindowLongW(GetDlgItem(dialog, id), GWL_EXSTYLE)) & bits) == bits;
}

TEST_F(ResourceTest, MainDialogMatchesItsTable) { ExpectDialogMatchesTable(IDD_MAIN); }
TEST_F(ResourceTest, UsageDialogMatchesItsTable) { ExpectDialogMatchesTable(IDD_USAGE); }
TEST_F(ResourceTest, AboutBoxMatchesItsTable) { ExpectDialogMatchesTable(IDD_ABOUT); }

// The edges the tables do not hold: bordered controls get the client edge
// (the dialog manager's form of WS_BORDER), the progress bar and the usage
// warning a static edge.
TEST_F(ResourceTest, ControlsHaveTheirEdges) {
    OpenDialog main(IDD_MAIN);
    ASSERT_NE(main.window, nullptr);
    for (int id : {IDC_HELP_TEXT, IDC_ADAPTER_LIST, IDC_PORT_LIST, IDC_LOG}) {
        EXPECT_TRUE(HasExStyle(main.window, id, WS_EX_CLIENTEDGE)) << id;
    }
    EXPECT_TRUE(HasExStyle(main.window, IDC_PROGRESS, WS_EX_STATICEDGE));
    OpenDialog usage(IDD_USAGE);
    ASSERT_NE(usage.window, nullptr);
    EXPECT_TRUE(HasExStyle(usage.window, IDC_USAGE_WARNING, WS_EX_STATICEDGE));
}

// Lists and combos scroll once their rows overflow (the tables give the
// empty state, which has no scroll bar).
TEST_F(ResourceTest, ListsScrollWhenFull) {
    OpenDialog main(IDD_MAIN);
    ASSERT_NE(main.window, nullptr);
    for (int id : {IDC_ADAPTER_LIST, IDC_PORT_LIST}) {
        HWND list = GetDlgItem(main.window, id);
        for (int row = 0; row < 100; ++row) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"COM"));
        EXPECT_TRUE(GetWindowLongW(list, GWL_STYLE) & WS_VSCROLL) << id;
    }
    for (int id : {IDC_CATEGORY, IDC_ORDER, IDC_START_NUMBER}) {
        HWND combo = GetDlgItem(main.window, id);
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetComboBoxInfo(combo, &info)) << id;
        for (int row = 0; row < 300; ++row) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"COM"));
        EXPECT_TRUE(GetWindowLongW(info.hwndList, GWL_STYLE) & WS_VSCROLL) << id;
        EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 300);
    }
}

// Clicking radios shows the groups the dialog manager forms: checking one
// clears only the others of its own group.
TEST_F(ResourceTest, RadioGroupsAreIndependent) {
    OpenDialog main(IDD_MAIN);
    ASSERT_NE(main.window, nullptr);
    ShowWindow(main.window, SW_SHOWNA);
    auto click = [&](int id) { SendDlgItemMessageW(main.window, id, BM_CLICK, 0, 0); };
    auto checked = [&](int id) { return IsDlgButtonChecked(main.window, id) == BST_CHECKED; };
    click(IDC_SCOPE_CARD);
    click(IDC_PLAN_SEQUENTIAL);
    EXPECT_TRUE(checked(IDC_SCOPE_CARD));
    EXPECT_TRUE(checked(IDC_PLAN_SEQUENTIAL));
    click(IDC_SCOPE_ALL);
    EXPECT_FALSE(checked(IDC_SCOPE_CARD));
    EXPECT_TRUE(checked(IDC_SCOPE_ALL));
    EXPECT_TRUE(checked(IDC_PLAN_SEQUENTIAL));
    click(IDC_PLAN_HUB);
    EXPECT_FALSE(checked(IDC_PLAN_SEQUENTIAL));
    EXPECT_TRUE(checked(IDC_PLAN_HUB));
    EXPECT_TRUE(checked(IDC_SCOPE_ALL));
    click(IDC_SCOPE_PORT);
    EXPECT_FALSE(checked(IDC_SCOPE_ALL));
    EXPECT_TRUE(checked(IDC_PLAN_HUB));
    // The hub boxes are check boxes outside both groups.
    click(IDC_HUB_UP);
    EXPECT_TRUE(checked(IDC_HUB_UP));
    EXPECT_TRUE(checked(IDC_PLAN_HUB));
}

std::string LoadText(UINT id) {
    const wchar_t* text = nullptr;
    const int n = LoadStringW(Module(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? Utf8(std::wstring(text, static_cast<size_t>(n))) : std::string();
}

TEST_F(ResourceTest, StringTableHoldsTheConfirmations) {
    EXPECT_EQ(LoadText(IDS_PORTS_HELD), KESTROVA_TEXT_PORTS_HELD);
    EXPECT_EQ(LoadText(IDS_NUMBER_CLAIMED), KESTROVA_TEXT_NUMBER_CLAIMED);
    EXPECT_EQ(LoadText(IDS_NUMBERS_CLAIMED), KESTROVA_TEXT_NUMBERS_CLAIMED);
    // Through the 512-byte buffers the program formats them in.
    wchar_t buffer[256];
    ASSERT_GT(LoadStringW(Module(), IDS_NUMBER_CLAIMED, buffer, 256), 0);
    wchar_t formatted[256];
    swprintf(formatted, 256, buffer, 7);
    EXPECT_EQ(Utf8(formatted),
              "当前串口号(COM7)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?");
}

std::string MenuText(HMENU menu, UINT position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return Utf8(text);
}

TEST_F(ResourceTest, MenuHasExitAndAbout) {
    HMENU menu = LoadMenuW(Module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 2);
    EXPECT_EQ(MenuText(menu, 0), "文件(&F)");
    EXPECT_EQ(MenuText(menu, 1), "帮助(&H)");
    HMENU file = GetSubMenu(menu, 0);
    HMENU help = GetSubMenu(menu, 1);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(help, nullptr);
    ASSERT_EQ(GetMenuItemCount(file), 1);
    EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(IDM_EXIT));
    EXPECT_EQ(MenuText(file, 0), "退出(&X)");
    ASSERT_EQ(GetMenuItemCount(help), 1);
    EXPECT_EQ(GetMenuItemID(help, 0), static_cast<UINT>(IDM_ABOUT));
    EXPECT_EQ(MenuText(help, 0), "关于(&A) ...");
    DestroyMenu(menu);
}

TEST_F(ResourceTest, AcceleratorsOpenAbout) {
    HACCEL table = LoadAcceleratorsW(Module(), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL keys[4] = {};
    ASSERT_EQ(CopyAcceleratorTableW(table, keys, 4), 2);
    // Alt+/ by its virtual key; Alt+? by its character.
    EXPECT_EQ(keys[0].fVirt & ~0x80, FVIRTKEY | FALT);
    EXPECT_EQ(keys[0].key, VK_OEM_2);
    EXPECT_EQ(keys[0].cmd, IDM_ABOUT);
    EXPECT_EQ(keys[1].fVirt & ~0x80, FALT);
    EXPECT_EQ(keys[1].key, '?');
    EXPECT_EQ(keys[1].cmd, IDM_ABOUT);
}

// Sizes and colour depths of an icon group, read from its directory.
std::vector<std::pair<int, int>> IconGroupEntries(int id) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colors, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD iconId;
    };
#pragma pack(pop)
    std::vector<std::pair<int, int>> entries;
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_GROUP_ICON));
    if (!found) return entries;
    const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(Module(), found)));
    WORD count;
    std::memcpy(&count, p + 4, sizeof count);
    for (WORD i = 0; i < count; ++i) {
        GroupEntry e;
        std::memcpy(&e, p + 6 + i * sizeof(GroupEntry), sizeof e);
        entries.emplace_back(e.width ? e.width : 256, e.bitCount);
    }
    return entries;
}

TEST_F(ResourceTest, IconsComeInEverySize) {
    const std::vector<std::pair<int, int>> expected = {{16, 32}, {24, 32}, {32, 32}, {48, 32}, {256, 32}};
    for (int id : {IDI_KESTROVA, IDI_KESTROVA_ALT}) {
        EXPECT_EQ(IconGroupEntries(id), expected) << id;
        for (int size : {16, 32, 48}) {
            HICON icon = static_cast<HICON>(LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
            EXPECT_NE(icon, nullptr) << id << " " << size;
            if (icon) DestroyIcon(icon);
        }
    }
}

TEST_F(ResourceTest, VersionRecordNamesTheProduct) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 1200);

    const std::pair<const wchar_t*, const char*> values[] = {
        {L"FileVersion", "1, 2, 0, 0"},      {L"ProductVersion", "1, 2, 0, 0"},
        {L"FileDescription", "Brevanto"},    {L"ProductName", "Brevanto"},
        {L"OriginalFilename", "Brevanto.exe"},
    };
    for (const auto& [name, want] : values) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
            << Utf8(name);
        EXPECT_EQ(Utf8(value), want) << Utf8(name);
    }
}

TEST_F(ResourceTest, ManifestAsksForAdministratorAndCommonControls6) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_MANIFEST));
    ASSERT_NE(found, nullptr);
    const char* p = static_cast<const char*>(LockResource(LoadResource(Module(), found)));
    const std::string manifest(p, SizeofResource(Module(), found));
    EXPECT_NE(manifest.find(R"(level="requireAdministrator" uiAccess="false")"), std::string::npos);
    EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                            "PerMonitorV2</dpiAwareness>"),
              std::string::npos);

    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    // The dependency takes effect: the common controls come from the side-
    // by-side store, not from the system folder's older version.
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(comctl, path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
        << Utf8(path);
}

}  // namespace

// The compiled resources, which this test program carries, against the layout
// tables and the texts they must hold. The dialogs are compared by the same
// routine the black-box test applies to the shipped program's windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "resources/strings.h"
#include "tools/winpeek/dialog_check.h"

namespace {

using peek::Utf8;

HINSTANCE Module() { return GetModuleHandleW(nullptr); }
INT_PTR CALLBACK Inert(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(Resources, DialogsMatchTheirTables) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    for (int templateId : {IDD_MAIN, IDD_USAGE, IDD_ABOUT}) {
        SCOPED_TRACE(templateId);
        const DialogLayout* layout = FindDialogLayout(templateId);
        HWND dialog = CreateDialogParamW(Module(), MAKEINTRESOURCEW(templateId), nullptr, Inert, 0);
        ASSERT_TRUE(layout != nullptr && dialog != nullptr);
        for (const std::string& mismatch : peek::CheckDialog(dialog, dialog, *layout, false))
            ADD_FAILURE() << mismatch;
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(font.lfHeight, -MulDiv(layout->fontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72));
        ReleaseDC(nullptr, screen);
        EXPECT_EQ(Utf8(font.lfFaceName), layout->fontName);
        for (const ControlLayout& c : layout->controls) {
            HWND control = GetDlgItem(dialog, c.id);
            if (c.kind == ControlKind::ComboBox) {
                // The table's height is the closed combo's and its open
                // list's together, less a shared border line; the list
                // scrolls once full.
                RECT open{}, closed{}, want{0, 0, 0, c.height};
                SendMessageW(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&open));
                GetWindowRect(control, &closed);
                MapDialogRect(dialog, &want);
                EXPECT_NEAR(open.bottom - open.top + closed.bottom - closed.top, want.bottom, 1) << c.id;
                COMBOBOXINFO info{};
                info.cbSize = sizeof info;
                GetComboBoxInfo(control, &info);
                for (int row = 0; row < 300; ++row)
                    SendMessageW(control, CB_ADDSTRING, 0, LPARAM(L"COM"));
                EXPECT_TRUE(peek::Style(info.hwndList) & WS_VSCROLL) << c.id;
            } else if (c.kind == ControlKind::ListBox) {
                // The table gives the empty list, which shows no scroll bar.
                for (int row = 0; row < 100; ++row)
                    SendMessageW(control, LB_ADDSTRING, 0, LPARAM(L"COM"));
                EXPECT_TRUE(peek::Style(control) & WS_VSCROLL) << c.id;
            }
        }
        DestroyWindow(dialog);
    }
}

std::string LoadText(UINT id) {
    const wchar_t* text = nullptr;
    const int n = LoadStringW(Module(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return Utf8(text, static_cast<size_t>(std::max(n, 0)));
}

TEST(Resources, StringsMenuAndAccelerators) {
    EXPECT_EQ(LoadText(IDS_PORTS_HELD), KESTROVA_TEXT_PORTS_HELD);
    EXPECT_EQ(LoadText(IDS_NUMBER_CLAIMED), KESTROVA_TEXT_NUMBER_CLAIMED);
    EXPECT_EQ(LoadText(IDS_NUMBERS_CLAIMED), KESTROVA_TEXT_NUMBERS_CLAIMED);

    HMENU menu = LoadMenuW(Module(), MAKEINTRESOURCEW(IDR_MAIN_MENU));
    ASSERT_NE(menu, nullptr);
    // Each line: the menu's title, then its items' ids and texts.
    std::string shown;
    for (int m = 0; m < GetMenuItemCount(menu); ++m) {
        wchar_t text[64] = {};
        GetMenuStringW(menu, static_cast<UINT>(m), text, 64, MF_BYPOSITION);
        shown += Utf8(text);
        HMENU sub = GetSubMenu(menu, m);
        for (int i = 0; i < GetMenuItemCount(sub); ++i) {
            GetMenuStringW(sub, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
            shown.append(" ").append(std::to_string(GetMenuItemID(sub, i))).append(":").append(Utf8(text));
        }
        shown += "\n";
    }
    EXPECT_EQ(shown,
              "文件(&F) 106:预览串口号分配(&P)\tCtrl+P 109:撤销上次修改(&U) 0: 110:串口号占用情况(&C) "
              "111:释放无设备使用的串口号(&R)... 0: 120:导出串口号布局(&E)... 121:按布局文件修改串口号(&L)... 0: "
              "105:退出(&X)\n帮助(&H) 104:关于(&A) ...\n");
    DestroyMenu(menu);

    // Each key as flags/key/command: Alt+/ by its virtual key and Alt+? by
    // its character open the About box, Ctrl+P previews.
    ACCEL keys[4] = {};
    const int count = CopyAcceleratorTableW(LoadAcceleratorsW(Module(), MAKEINTRESOURCEW(IDR_ACCELERATORS)), keys, 4);
    std::string accelerators;
    for (int i = 0; i < count; ++i) {
        accelerators.append(std::to_string(keys[i].fVirt & ~0x80)).append("/").append(std::to_string(keys[i].key));
        accelerators.append("/").append(std::to_string(keys[i].cmd)).append(" ");
    }
    EXPECT_EQ(accelerators, "17/191/104 9/80/106 16/63/104 ");
}

TEST(Resources, IconsVersionAndManifest) {
    for (int id : {IDI_KESTROVA, IDI_KESTROVA_ALT}) {
        // The group directory: 16, 24, 32, 48 and 256 pixels, 32 bits each.
        HRSRC group = FindResourceW(Module(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_GROUP_ICON));
        ASSERT_NE(group, nullptr) << id;
        const BYTE* p = static_cast<const BYTE*>(LockResource(LoadResource(Module(), group)));
        std::string entries;
        for (int i = 0; i < p[4]; ++i) {
            const BYTE* e = p + 6 + i * 14;
            entries += std::to_string(e[0] ? e[0] : 256) + "/" + std::to_string(e[6]) + " ";
        }
        EXPECT_EQ(entries, "16/32 24/32 32/32 48/32 256/32 ") << id;
    }

    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path, nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, static_cast<DWORD>(data.size()), data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS | fixed->dwProductVersionLS, 0u);
    const std::pair<const wchar_t*, const char*> values[] = {
        {L"FileVersion", "1, 2, 0, 0"}, {L"ProductVersion", "1, 2, 0, 0"},     {L"FileDescription", "Brevanto"},
        {L"ProductName", "Brevanto"},   {L"OriginalFilename", "Brevanto.exe"},
    };
    for (const auto& [name, want] : values) {
        // The string block is the one of Chinese (PRC), Unicode.
        const std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) << want;
        EXPECT_EQ(Utf8(value), want);
    }

    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(1), reinterpret_cast<LPCWSTR>(RT_MANIFEST));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(Module(), found))),
                               SizeofResource(Module(), found));
    for (const char* part :
         {R"(level="requireAdministrator" uiAccess="false")",
          R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")", ">PerMonitorV2</dpiAwareness>"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
    // The dependency takes effect: the common controls come from the
    // side-by-side store, not from the system folder's older version.
    GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
    CharLowerW(path);
    EXPECT_NE(std::wstring(path).find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos);
}

}  // namespace

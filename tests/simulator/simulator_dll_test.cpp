// The simulator DLL as the program meets it: imported by plain name at load time
// and called with the platform's calling convention (__stdcall on 32-bit).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "inventory/devmgr.h"

namespace {

#if defined(_WIN64)
constexpr const char* kDllName = "QELDRA64.DLL";
#else
constexpr const char* kDllName = "QELDRA32.DLL";
#endif

DeviceRecord table[kMaxDevices];

// The cards file in a folder whose name is outside the ANSI code page: the
// path reaches the library only through the wide functions.
TEST(SimulatorDll, ReadsAndSavesACardsFileOutsideTheCodePage) {
    HMODULE module = GetModuleHandleA(kDllName);
    ASSERT_NE(module, nullptr) << kDllName << " is not loaded";
    for (const char* name : {"InitDevManagerLib", "EnumComPortDev", "ChangeDeviceStatus", "ModifyCOMName"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
    const std::wstring folderName = L"kestrova-\u041a\u0435\u0441\u0442\u0440\u043e\u0432\u0430-\u03be";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, folderName.c_str(), -1, nullptr, 0, nullptr, &lossy);
    EXPECT_TRUE(lossy) << "the ANSI code page holds the folder name";
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = temp + folderName;
    const std::wstring path = folder + L"\\cards.json";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    // UTF-8 in the file; the library reports the ANSI code page.
    const char description[] =
        "{\"cards\": [{\"category\": \"usb\", \"name\": \"Caf\xc3\xa9 bench\",\n"
        "  \"ports\": [{\"name\": \"COM3\"}, {\"name\": \"COM3\"}]}]}\n";
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(description, 1, sizeof description - 1, file);
    std::fclose(file);
    SetEnvironmentVariableW(L"KESTROVA_SIM_CARDS", path.c_str());

    ASSERT_EQ(InitDevManagerLib(), 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table, kMaxDevices), 1u);
    char expectedName[64] = {};
    WideCharToMultiByte(CP_ACP, 0, L"Caf\u00e9 bench", -1, expectedName, sizeof expectedName, nullptr, nullptr);
    EXPECT_EQ(std::string(table[0].deviceName), expectedName);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[0].devInfoSet), table[0].devInfo, 0, 0), 1);
    EXPECT_NE(ModifyCOMName(table[0].ports[1].portName, 45), 0);
    EXPECT_EQ(DeinitDevManagerLib(), 1);

    ASSERT_EQ(InitDevManagerLib(), 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table, kMaxDevices), 1u);
    EXPECT_EQ(std::string(table[0].ports[0].portName) + "," + table[0].ports[1].portName, "COM3,COM45");
    EXPECT_EQ(DeinitDevManagerLib(), 1);

    SetEnvironmentVariableW(L"KESTROVA_SIM_CARDS", nullptr);
    EXPECT_NE(DeleteFileW(path.c_str()), 0);
    EXPECT_NE(RemoveDirectoryW(folder.c_str()), 0) << "a temporary file is left beside the cards file";
}

}  // namespace

// The simulator DLL as the program meets it: imported by plain name at load
// time through the import library and called with the platform's calling
// convention (__stdcall on 32-bit).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "inventory/devmgr.h"
#include "record_checks.h"

namespace {

#if defined(_WIN64)
constexpr const char* kDllName = "QELDRA64.DLL";
#else
constexpr const char* kDllName = "QELDRA32.DLL";
#endif

DeviceRecord table[kMaxDevices + 1];

TEST(SimulatorDll, IsImportedByPlainNames) {
    HMODULE module = GetModuleHandleA(kDllName);
    ASSERT_NE(module, nullptr) << kDllName << " is not loaded";
    for (const char* name :
         {"InitDevManagerLib", "EnumComPortDev", "ChangeDeviceStatus", "ModifyCOMName", "DeinitDevManagerLib"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
}

TEST(SimulatorDll, EnumeratesTheBuiltInBench) {
    SetEnvironmentVariableA("KESTROVA_SIM_CARDS", nullptr);
    ASSERT_EQ(InitDevManagerLib(), 1);
    std::memset(table, kCanary, sizeof table);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table, kMaxDevices), 5u);
    const unsigned portCounts[5] = {4, 2, 1, 8, 1};
    for (unsigned i = 0; i < 5; ++i) {
        EXPECT_EQ(table[i].portCount, portCounts[i]) << i;
    }
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM3");
    EXPECT_EQ(table[0].ports[0].portNumber, 3u);
    EXPECT_EQ(table[0].locationPath[3], 1);
    EXPECT_EQ(table[0].locationPath[4], 2);
    EXPECT_EQ(Text(table[0].typeLabel), "USB4P");
    EXPECT_NE(table[2].singlePort, 0u);
    EXPECT_TRUE(AllBytes(&table[5], (kMaxDevices + 1 - 5) * sizeof(DeviceRecord), kCanary));

    EXPECT_EQ(EnumComPortDev(kCategoryPci, kOrderByPosition, table, kMaxDevices), 1u);
    EXPECT_EQ(table[0].portCount, 8);
    EXPECT_EQ(EnumComPortDev(0xFFFFFFFFu, 0xFF, table, 2), 2u);
    EXPECT_EQ(table[1].portCount, 2);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPortCount, table, kMaxDevices), 5u);
    EXPECT_EQ(table[0].portCount, 8);

    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), table[1].devInfo, 0, 0), 1);
    EXPECT_EQ(ChangeDeviceStatus(DevInfoSetValue(table[1].devInfoSet), table[1].devInfo, 1, 0), 1);
    std::uint8_t foreign[32] = {};
    EXPECT_EQ(ChangeDeviceStatus(0, foreign, 1, 0), 0);
    EXPECT_EQ(DeinitDevManagerLib(), 1);
}

TEST(SimulatorDll, RenameIsSavedToTheCardsFile) {
    char folder[MAX_PATH];
    char path[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof folder, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "ksm", 0, path), 0u);
    // UTF-8 in the file; the library reports the ANSI code page.
    const char description[] = "{\"cards\": [{\"category\": \"usb\", \"name\": \"Caf\xc3\xa9 bench\",\n"
                               "  \"ports\": [{\"name\": \"COM3\"}, {\"name\": \"COM4\"}]}]}\n";
    std::FILE* file = std::fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(description, 1, sizeof description - 1, file);
    std::fclose(file);
    SetEnvironmentVariableA("KESTROVA_SIM_CARDS", path);

    ASSERT_EQ(InitDevManagerLib(), 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table, kMaxDevices), 1u);
    char expectedName[64] = {};
    WideCharToMultiByte(CP_ACP, 0, L"Caf\u00e9 bench", -1, expectedName, sizeof expectedName, nullptr, nullptr);
    EXPECT_EQ(Text(table[0].deviceName), expectedName);
    EXPECT_NE(ModifyCOMName(table[0].ports[1].portName, 45), 0);
    EXPECT_EQ(ModifyCOMName(table[0].ports[1].portName, 46), 0);  // COM4 is no more
    EXPECT_EQ(DeinitDevManagerLib(), 1);

    ASSERT_EQ(InitDevManagerLib(), 1);
    ASSERT_EQ(EnumComPortDev(kCategoryAll, kOrderByPosition, table, kMaxDevices), 1u);
    EXPECT_EQ(Text(table[0].ports[1].portName), "COM45");
    EXPECT_EQ(table[0].ports[1].portNumber, 45u);
    EXPECT_EQ(Text(table[0].ports[0].portName), "COM3");
    EXPECT_EQ(DeinitDevManagerLib(), 1);

    SetEnvironmentVariableA("KESTROVA_SIM_CARDS", nullptr);
    EXPECT_NE(DeleteFileA(path), 0);
}

}  // namespace

// The COM port database as the program reaches it, through the platform seam:
// natively over the in-memory model, cross-built under Wine over the
// msports.dll stand-in, so that the two cannot drift apart. Each test starts
// from an empty database; under Wine the registry value found is put back.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>

#include <ddk/msports.h>
#else
#include "platform/model/model.h"
#endif

namespace {

constexpr long kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

#if defined(_WIN32)
constexpr wchar_t kArbiter[] = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

struct Value {
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    DWORD size = 8192;
    BYTE data[8192];
};

Value ReadValue() {
    Value value;
    value.status = RegGetValueW(HKEY_LOCAL_MACHINE, kArbiter, L"ComDB", RRF_RT_ANY | RRF_NOEXPAND, &value.type,
                                value.data, &value.size);
    return value;
}

// Writes the value, or deletes it for a status other than success.
void WriteValue(const Value& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArbiter, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    if (value.status == ERROR_SUCCESS) {
        EXPECT_EQ(RegSetValueExW(key, L"ComDB", 0, value.type, value.data, value.size), ERROR_SUCCESS);
    } else {
        RegDeleteValueW(key, L"ComDB");
    }
    RegCloseKey(key);
}
#endif

class ComDbContract : public testing::Test {
protected:
    void SetUp() override {
#if defined(_WIN32)
        found = ReadValue();
        WriteValue(Value());
#else
        ModelReset();
#endif
        ASSERT_EQ(ComDbOpen(&db), 0);
        ASSERT_NE(db, InvalidComDb());
    }
#if defined(_WIN32)
    void TearDown() override { WriteValue(found); }
    Value found;
#endif
    ComDbHandle db = nullptr;
    std::uint8_t bits[64] = {};
};

TEST_F(ComDbContract, ClaimsAndReleasesShowInTheBitmap) {
    ASSERT_EQ(ComDbGetUsageBits(db, bits, sizeof bits), 0);
    const std::uint8_t none[sizeof bits] = {};
    EXPECT_EQ(std::memcmp(bits, none, sizeof bits), 0);
    for (unsigned number : {8u, 9u, 256u, 300u})
        EXPECT_EQ(ComDbClaim(db, number), 0) << number;
    EXPECT_EQ(ComDbClaim(db, 8), kSharingViolation);
    ASSERT_EQ(ComDbGetUsageBits(db, bits, sizeof bits), 0);
    EXPECT_EQ(bits[0], 0x80);  // COM8: bit 7 of byte 0
    EXPECT_EQ(bits[1], 0x01);  // COM9: bit 0 of byte 1
    EXPECT_EQ(bits[31], 0x80);
    EXPECT_EQ(bits[37], 0x08);  // COM300, past the first 256 numbers
    EXPECT_EQ(ComDbRelease(db, 8), 0);
    EXPECT_EQ(ComDbRelease(db, 8), 0);  // already free
    EXPECT_EQ(ComDbRelease(db, 4000), 0);
    ASSERT_EQ(ComDbGetUsageBits(db, bits, 2), 0);
    EXPECT_EQ(bits[0], 0x00);
    EXPECT_EQ(bits[1], 0x01);
    EXPECT_EQ(ComDbClaim(db, 8), 0);
}

TEST_F(ComDbContract, NumbersOutsideTheDatabaseAndForeignHandlesAreRefused) {
    for (unsigned number : {0u, 4097u}) {
        EXPECT_EQ(ComDbClaim(db, number), kInvalidParameter) << number;
        EXPECT_EQ(ComDbRelease(db, number), kInvalidParameter) << number;
    }
    EXPECT_EQ(ComDbClaim(db, 4096), 0);
    EXPECT_EQ(ComDbClaim(InvalidComDb(), 5), kInvalidParameter);
    EXPECT_EQ(ComDbRelease(InvalidComDb(), 4096), kInvalidParameter);
    EXPECT_EQ(ComDbGetUsageBits(InvalidComDb(), bits, sizeof bits), kInvalidParameter);
    EXPECT_EQ(ComDbClaim(db, 4096), kSharingViolation);
}

TEST_F(ComDbContract, TheSizeStartsAt256AndAClaimPastItGrowsItInStepsOf1024) {
    unsigned numbers = 0;
    ASSERT_EQ(ComDbGetSize(db, &numbers), 0);
    EXPECT_EQ(numbers, 256u);
    ASSERT_EQ(ComDbClaim(db, 256), 0);
    ASSERT_EQ(ComDbGetSize(db, &numbers), 0);
    EXPECT_EQ(numbers, 256u);
    ASSERT_EQ(ComDbClaim(db, 1025), 0);
    ASSERT_EQ(ComDbGetSize(db, &numbers), 0);
    EXPECT_EQ(numbers, 2048u);
    EXPECT_EQ(ComDbGetSize(InvalidComDb(), &numbers), kInvalidParameter);
}

#if defined(_WIN32)
// A database of 256, 1024 or 4096 numbers as Windows keeps it: the value's
// bytes are its size. Resizing grows it in steps of 1024 and keeps its bits.
// A bitmap of bytes bytes with one byte set.
Value Bitmap(DWORD bytes, DWORD at, BYTE bits) {
    Value value;
    value.status = ERROR_SUCCESS;
    value.type = REG_BINARY;
    value.size = bytes;
    std::memset(value.data, 0, bytes);
    value.data[at] = bits;
    return value;
}

TEST_F(ComDbContract, TheStandInReadsEachSizeAndResizesInSteps) {
    for (DWORD bytes : {32u, 128u, 512u}) {
        WriteValue(Bitmap(bytes, bytes - 1, 0x80));  // the last number claimed
        unsigned numbers = 0;
        ASSERT_EQ(ComDbGetSize(db, &numbers), 0);
        EXPECT_EQ(numbers, bytes * 8);
        std::uint8_t all[512] = {};
        ASSERT_EQ(ComDbGetUsageBits(db, all, sizeof all), 0);
        EXPECT_EQ(all[bytes - 1], 0x80) << bytes;
        EXPECT_EQ(ComDbClaim(db, bytes * 8), kSharingViolation) << bytes;
    }
    WriteValue(Bitmap(32, 3, 0x01));  // COM25
    auto resize = reinterpret_cast<LONG(WINAPI*)(HCOMDB, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msports.dll"), "ComDBResizeDatabase")));
    ASSERT_NE(resize, nullptr);
    HCOMDB handle = static_cast<HCOMDB>(db);
    EXPECT_EQ(resize(handle, 1000), kInvalidParameter);
    EXPECT_EQ(resize(handle, 5120), ERROR_BAD_LENGTH);
    EXPECT_EQ(resize(handle, 1024), ERROR_SUCCESS);
    EXPECT_EQ(resize(handle, 1024), ERROR_BAD_LENGTH);
    EXPECT_EQ(resize(static_cast<HCOMDB>(InvalidComDb()), 2048), kInvalidParameter);
    const Value stored = ReadValue();
    ASSERT_EQ(stored.size, 128u);
    EXPECT_EQ(std::memcmp(stored.data, Bitmap(128, 3, 0x01).data, 128), 0) << "its bits kept, the new numbers free";
}

// Run by the test below in a process of its own.
TEST(ComDbChild, DISABLED_ClaimsSeventySeven) {
    ComDbHandle db = InvalidComDb();
    ASSERT_EQ(ComDbOpen(&db), 0);
    ASSERT_EQ(ComDbClaim(db, 77), 0);
}

TEST_F(ComDbContract, TheStandInKeepsTheDatabaseInTheRegistry) {
    wchar_t self[MAX_PATH];
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    wchar_t command[MAX_PATH + 128];
    swprintf(command, MAX_PATH + 128, L"\"%ls\" --gtest_also_run_disabled_tests --gtest_filter=ComDbChild.*", self);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    GetExitCodeProcess(child.hProcess, &exitCode);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ComDbClaim(db, 77), kSharingViolation);
    const Value stored = ReadValue();
    ASSERT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(stored.size, 32u);
    EXPECT_EQ(stored.data[9], 0x10);  // COM77

    // A value of another type or size is read as far as it can be and never
    // replaced: not by an open, not by a claim.
    Value foreign[3];
    foreign[0].type = REG_SZ;
    foreign[0].size = sizeof L"COM3";
    std::memcpy(foreign[0].data, L"COM3", sizeof L"COM3");
    foreign[1].type = REG_DWORD;
    foreign[1].size = 4;
    foreign[1].data[0] = 0x10;
    foreign[2].type = REG_BINARY;
    foreign[2].size = 4096;
    std::memset(foreign[2].data, 0, 4096);
    foreign[2].data[0] = 0x10;  // COM5
    for (Value& value : foreign) {
        SCOPED_TRACE(value.type);
        value.status = ERROR_SUCCESS;
        WriteValue(value);
        ComDbHandle again = InvalidComDb();
        ASSERT_EQ(ComDbOpen(&again), 0);
        ASSERT_EQ(ComDbGetUsageBits(again, bits, sizeof bits), 0);
        EXPECT_EQ(bits[0], value.type == REG_BINARY ? 0x10 : 0x00);
        EXPECT_NE(ComDbClaim(again, 6), 0);
        const Value after = ReadValue();
        EXPECT_EQ(after.type, value.type);
        ASSERT_EQ(after.size, value.size);
        EXPECT_EQ(std::memcmp(after.data, value.data, value.size), 0);
    }
}
#endif

}  // namespace

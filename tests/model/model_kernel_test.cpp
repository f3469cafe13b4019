// The kernel, COM database and notification stand-ins of the in-memory
// platform, and the reset between tests.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>

#include "platform/model/model.h"
#include "resources/ids.h"
#include "tests/model/recorder.h"
#include "tests/support/harness.h"

namespace {

class ModelKernel : public ::testing::Test {
protected:
    void SetUp() override { ModelReset(); }
    void TearDown() override { ModelReset(); }
};

TEST_F(ModelKernel, DebugOutputIsKeptUntilCleared) {
    DebugOutput("0000#10:00:00:000>> 第一行\r\n");
    DebugOutput("0001#10:00:00:001>> second\r\n");
    EXPECT_EQ(ModelDebugText(), "0000#10:00:00:000>> 第一行\r\n0001#10:00:00:001>> second\r\n");
    ModelClearDebugText();
    EXPECT_EQ(ModelDebugText(), "");
}

TEST_F(ModelKernel, LocalTimeIsRealUntilFixed) {
    LocalTime now = GetLocalTimeNow();
    EXPECT_GE(now.hour, 0);
    EXPECT_LT(now.hour, 24);
    EXPECT_LT(now.minute, 60);
    EXPECT_LT(now.second, 61);
    EXPECT_LT(now.milliseconds, 1000);
    ModelSetLocalTime(LocalTime{14, 3, 59, 82});
    LocalTime fixed = GetLocalTimeNow();
    EXPECT_EQ(fixed.hour, 14);
    EXPECT_EQ(fixed.minute, 3);
    EXPECT_EQ(fixed.second, 59);
    EXPECT_EQ(fixed.milliseconds, 82);
}

TEST_F(ModelKernel, LastErrorBelongsToEachThread) {
    SetLastErrorCode(5);
    unsigned seenOnWorker = 99;
    std::thread worker([&] {
        seenOnWorker = GetLastErrorCode();
        SetLastErrorCode(32);
    });
    worker.join();
    EXPECT_EQ(seenOnWorker, 0u);
    EXPECT_EQ(GetLastErrorCode(), 5u);
}

TEST_F(ModelKernel, ErrorTextsOfTheCodesTheProgramMeets) {
    char text[128];
    GetErrorText(5, text, sizeof text);
    EXPECT_STREQ(text, "Access is denied.\r\n");
    GetErrorText(2, text, sizeof text);
    EXPECT_STREQ(text, "The system cannot find the file specified.\r\n");
    GetErrorText(32, text, sizeof text);
    EXPECT_STREQ(text, "The process cannot access the file because it is being used by another process.\r\n");
    GetErrorText(87, text, sizeof text);
    EXPECT_STREQ(text, "");
    char small[7];
    GetErrorText(5, small, sizeof small);
    EXPECT_STREQ(small, "Access");
}

TEST_F(ModelKernel, PortsOpenAsTheTableSays) {
    ModelSetPortResult("\\\\.\\COM3", 0);
    ModelSetPortResult("\\\\.\\COM4", 5);
    SetLastErrorCode(1234);
    EXPECT_EQ(TryOpenPort("\\\\.\\com3"), 0u);  // device names ignore case
    EXPECT_EQ(GetLastErrorCode(), 1234u);
    EXPECT_EQ(TryOpenPort("\\\\.\\COM4"), 5u);
    EXPECT_EQ(GetLastErrorCode(), 5u);
    EXPECT_EQ(TryOpenPort("\\\\.\\COM9"), 2u);  // not in the table: not there
    EXPECT_EQ(GetLastErrorCode(), 2u);
    EXPECT_EQ(ModelOpenedPorts(), (std::vector<std::string>{"\\\\.\\com3", "\\\\.\\COM4", "\\\\.\\COM9"}));
}

TEST_F(ModelKernel, SleepsAreRecordedNotWaited) {
    SleepMs(0);
    SleepMs(10);
    SleepMs(3000);
    EXPECT_EQ(ModelSleeps(), (std::vector<unsigned>{0, 10, 3000}));
}

TEST_F(ModelKernel, FoldersAndPrograms) {
    char path[260];
    ASSERT_TRUE(GetWindowsFolder(path, sizeof path));
    EXPECT_STREQ(path, "C:\\windows");
    ASSERT_TRUE(GetSystemFolder(path, sizeof path));
    EXPECT_STREQ(path, "C:\\windows\\system32");
    ASSERT_TRUE(GetCurrentFolder(path, sizeof path));
    EXPECT_STREQ(path, "C:\\work");
    EXPECT_FALSE(FolderExists("C:\\windows\\SYSWOW64"));
    ModelAddFolder("C:\\Windows\\SysWOW64");
    EXPECT_TRUE(FolderExists("C:\\windows\\SYSWOW64"));
    EXPECT_TRUE(FolderExists("c:\\WINDOWS\\syswow64\\"));

    ModelSetCurrentFolder("D:\\工具");
    ASSERT_TRUE(GetCurrentFolder(path, sizeof path));
    EXPECT_STREQ(path, "D:\\工具");
    ModelSetSystemFolder(nullptr);
    EXPECT_FALSE(GetSystemFolder(path, sizeof path));
    EXPECT_STREQ(path, "");

    EXPECT_EQ(RunProgram("mmc C:\\windows\\system32\\devmgmt.msc"), 33u);
    ModelSetRunResult(2);
    EXPECT_EQ(RunProgram("C:\\work\\X64\\Kestrova_X64.EXE"), 2u);
    EXPECT_EQ(ModelRunCommands(), (std::vector<std::string>{"mmc C:\\windows\\system32\\devmgmt.msc",
                                                            "C:\\work\\X64\\Kestrova_X64.EXE"}));
}

TEST_F(ModelKernel, Wow64AnswersAsTheSystemIsSetUp) {
    bool isWow64 = true;
    EXPECT_TRUE(QueryWow64(&isWow64));
    EXPECT_FALSE(isWow64);
    ModelSetWow64(1);
    EXPECT_TRUE(QueryWow64(&isWow64));
    EXPECT_TRUE(isWow64);
    ModelSetWow64(-1);  // no IsWow64Process: the check is skipped
    EXPECT_FALSE(QueryWow64(&isWow64));
    EXPECT_FALSE(isWow64);
}

TEST_F(ModelKernel, LibraryTextStopsAtItsFieldAndAtCharacters) {
    // Read with the field's exact size: the sanitizers catch a read past it.
    const std::string chinese = "串口卡";
    auto* field = new char[chinese.size()];
    std::memcpy(field, chinese.data(), chinese.size());
    char text[16];
    LibraryTextToUtf8(field, chinese.size(), text, sizeof text);
    EXPECT_STREQ(text, "串口卡");
    LibraryTextToUtf8(field, chinese.size(), text, 8);
    EXPECT_STREQ(text, "串口");
    delete[] field;
}

// ---- COM port database ----

TEST_F(ModelKernel, ComDatabaseBitsClaimsAndReleases) {
    ComDbHandle db = InvalidComDb();
    ASSERT_EQ(ComDbOpen(&db), 0);
    EXPECT_NE(db, InvalidComDb());
    for (unsigned number : {1u, 8u, 9u, 256u, 4096u}) {
        EXPECT_EQ(ComDbClaim(db, number), 0) << number;
    }
    std::array<std::uint8_t, 32> bits{};
    ASSERT_EQ(ComDbGetUsageBits(db, bits.data(), static_cast<unsigned>(bits.size())), 0);
    EXPECT_EQ(bits[0], 0x81);  // COM1 bit 0, COM8 bit 7
    EXPECT_EQ(bits[1], 0x01);  // COM9
    EXPECT_EQ(bits[31], 0x80);  // COM256
    EXPECT_TRUE(ModelComDbIsClaimed(4096));

    EXPECT_EQ(ComDbClaim(db, 9), 32);  // already claimed
    EXPECT_EQ(ComDbClaim(db, 0), 87);
    EXPECT_EQ(ComDbClaim(db, 4097), 87);
    EXPECT_EQ(ComDbRelease(db, 9), 0);
    EXPECT_FALSE(ModelComDbIsClaimed(9));
    EXPECT_EQ(ComDbRelease(db, 9), 0);  // releasing a free number is no error
    EXPECT_EQ(ComDbRelease(db, 4097), 87);

    ModelComDbFailWrites(5);
    EXPECT_EQ(ComDbClaim(db, 20), 5);
    EXPECT_EQ(ComDbRelease(db, 1), 5);
    EXPECT_FALSE(ModelComDbIsClaimed(20));
    EXPECT_TRUE(ModelComDbIsClaimed(1));
}

TEST_F(ModelKernel, ComDatabaseFailedOpenLeavesAnInvalidHandle) {
    ModelComDbSetClaimed(3, true);
    ModelComDbFailOpen(5);
    ComDbHandle db = nullptr;
    EXPECT_EQ(ComDbOpen(&db), 5);
    EXPECT_EQ(db, InvalidComDb());
    EXPECT_EQ(db, reinterpret_cast<ComDbHandle>(static_cast<intptr_t>(-1)));

    // An invalid handle reads nothing and writes nothing.
    std::array<std::uint8_t, 32> bits;
    bits.fill(0xEE);
    EXPECT_EQ(ComDbGetUsageBits(db, bits.data(), 32), 87);
    EXPECT_EQ(bits[0], 0xEE);
    EXPECT_EQ(ComDbClaim(db, 4), 87);
    EXPECT_FALSE(ModelComDbIsClaimed(4));

    ModelComDbFailOpen(0);
    EXPECT_EQ(ComDbOpen(&db), 0);
    ASSERT_EQ(ComDbGetUsageBits(db, bits.data(), 32), 0);
    EXPECT_EQ(bits[0], 0x04);
    EXPECT_EQ(ModelComDbOpenCount(), 2);
}

TEST_F(ModelKernel, UsbNotificationRegistrationsAreCounted) {
    Window dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
    void* handle = RegisterUsbInterfaceNotification(dialog);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(ModelUsbRegistrations(), 1);
    EXPECT_EQ(ModelUsbRegisteredWindow(), dialog);
    UnregisterDeviceNotificationHandle(nullptr);
    EXPECT_EQ(ModelUsbUnregistrations(), 0);
    UnregisterDeviceNotificationHandle(handle);
    EXPECT_EQ(ModelUsbUnregistrations(), 1);
}

TEST_F(ModelKernel, ResetForgetsEverything) {
    Window dialog = HarnessOpenDialog(IDD_MAIN, RecordingProc);
    HarnessQueueAnswer(kAnswerNo);
    ShowMessageBox(dialog, "x", " Orvello", kBoxInfoOk);
    HarnessQueueAnswer(kAnswerNo);
    PostQuit(0);
    ModelComDbSetClaimed(5, true);
    ModelComDbFailOpen(5);
    ModelSetPortResult("\\\\.\\COM3", 0);
    ModelSetLocalTime(LocalTime{1, 2, 3, 4});
    ModelSetRunResult(2);
    DebugOutput("line");
    SleepMs(10);

    ModelReset();
    EXPECT_FALSE(ModelIsWindow(dialog));
    EXPECT_EQ(HarnessBoxCount(), 0);
    EXPECT_EQ(ShowMessageBox(nullptr, "x", "Kestrova", kBoxInfoYesNo), kAnswerYes);  // the queued No is gone
    EXPECT_FALSE(HarnessQuitPosted(nullptr));
    EXPECT_FALSE(ModelComDbIsClaimed(5));
    ComDbHandle db;
    EXPECT_EQ(ComDbOpen(&db), 0);
    EXPECT_EQ(TryOpenPort("\\\\.\\COM3"), 2u);
    EXPECT_EQ(RunProgram("x"), 33u);
    EXPECT_EQ(ModelDebugText(), "");
    EXPECT_EQ(ModelSleeps().size(), 0u);
}

}  // namespace

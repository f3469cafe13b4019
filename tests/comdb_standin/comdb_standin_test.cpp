// The msports.dll stand-in as the program meets it under Wine: linked through
// the msports import library, loaded from the prefix's system folder, and
// keeping the COM database in the registry value that Windows uses. The test
// program starts copies of itself ("--comdb-child ...") to check what other
// processes see and that claims from two processes never both succeed.
//
// Each test starts from an empty 256-number database and puts back the value
// it found when it ends.

#include <windows.h>

#include <ddk/msports.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t arbiterKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr wchar_t comDbValueName[] = L"ComDB";
constexpr DWORD childTimeoutMs = 60000;

using Bits = std::array<BYTE, 32>;

struct RegistryValue {
    LONG result = ERROR_FILE_NOT_FOUND;
    DWORD type = 0;
    std::vector<BYTE> data;
};

HKEY OpenArbiterKey()
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, arbiterKeyPath, 0, nullptr, 0,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    return result == ERROR_SUCCESS ? key : nullptr;
}

RegistryValue ReadComDbValue()
{
    RegistryValue value;
    HKEY key = OpenArbiterKey();
    if (!key) return value;
    DWORD size = 0;
    value.result = RegQueryValueExW(key, comDbValueName, nullptr, &value.type, nullptr, &size);
    if (value.result == ERROR_SUCCESS) {
        value.data.resize(size);
        value.result = RegQueryValueExW(key, comDbValueName, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

void WriteComDbValue(DWORD type, const std::vector<BYTE> &data)
{
    HKEY key = OpenArbiterKey();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(RegSetValueExW(key, comDbValueName, 0, type, data.data(), static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void DeleteComDbValue()
{
    HKEY key = OpenArbiterKey();
    ASSERT_NE(key, nullptr);
    LONG result = RegDeleteValueW(key, comDbValueName);
    EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << result;
    RegCloseKey(key);
}

Bits BitsWith(std::initializer_list<int> ports)
{
    Bits bits{};
    for (int port : ports) bits[(port - 1) / 8] |= static_cast<BYTE>(1 << ((port - 1) % 8));
    return bits;
}

Bits ReadBits(HCOMDB db, DWORD *maxPorts = nullptr)
{
    Bits bits;
    bits.fill(0xCC);
    DWORD reported = 0;
    EXPECT_EQ(ComDBGetCurrentPortUsage(db, bits.data(), static_cast<DWORD>(bits.size()), CDB_REPORT_BITS, &reported),
              ERROR_SUCCESS);
    if (maxPorts) *maxPorts = reported;
    return bits;
}

std::string Hex(const BYTE *bytes, size_t count)
{
    std::string text;
    char pair[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::wstring SelfPath()
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

// A copy of this program running one child command, its output captured.
struct Child {
    HANDLE process = nullptr;
    HANDLE output = nullptr;
};

Child StartChild(const std::wstring &arguments)
{
    Child child;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 65536)) return child;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = L"\"" + SelfPath() + L"\" --comdb-child " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &info);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return child;
    }
    CloseHandle(info.hThread);
    child.process = info.hProcess;
    child.output = readEnd;
    return child;
}

// Reads the child's output to its end and waits for it; returns its exit code
// (or ~0u when it could not be started or did not end in time).
DWORD FinishChild(Child &child, std::string &output)
{
    output.clear();
    if (!child.process) return ~0u;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(child.output, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
    CloseHandle(child.output);
    DWORD code = ~0u;
    if (WaitForSingleObject(child.process, childTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(child.process, &code);
    } else {
        TerminateProcess(child.process, 1);
    }
    CloseHandle(child.process);
    child = Child{};
    return code;
}

std::string RunChild(const std::wstring &arguments)
{
    Child child = StartChild(arguments);
    std::string output;
    EXPECT_EQ(FinishChild(child, output), 0u) << output;
    return output;
}

class ComDbStandIn : public testing::Test {
protected:
    void SetUp() override
    {
        saved = ReadComDbValue();
        ASSERT_TRUE(saved.result == ERROR_SUCCESS || saved.result == ERROR_FILE_NOT_FOUND) << saved.result;
        WriteComDbValue(REG_BINARY, std::vector<BYTE>(32, 0));
    }

    void TearDown() override
    {
        for (HCOMDB handle : opened) ComDBClose(handle);
        if (saved.result == ERROR_SUCCESS) {
            WriteComDbValue(saved.type, saved.data);
        } else {
            DeleteComDbValue();
        }
    }

    HCOMDB Open()
    {
        HCOMDB db = nullptr;
        EXPECT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
        EXPECT_NE(db, HCOMDB_INVALID_HANDLE_VALUE);
        opened.push_back(db);
        return db;
    }

    RegistryValue saved;
    std::vector<HCOMDB> opened;
};

TEST_F(ComDbStandIn, ProgramLoadsTheStandInFromThePrefixSystemFolder)
{
    HMODULE module = GetModuleHandleW(L"msports.dll");
    ASSERT_NE(module, nullptr);
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    CharLowerW(path);
    std::string file;
    for (DWORD i = 0; i < length; ++i) file += static_cast<char>(path[i]);
    EXPECT_TRUE(file == "c:\\windows\\system32\\msports.dll" || file == "c:\\windows\\syswow64\\msports.dll")
        << "loaded from " << file;

    // Wine's own DLLs carry this mark after the DOS header; its msports
    // functions are stubs that end the process.
    const char *image = reinterpret_cast<const char *>(module);
    EXPECT_NE(std::memcmp(image + 0x40, "Wine builtin DLL", 16), 0) << "Wine's own msports.dll was loaded";

    for (const char *name : {"ComDBOpen", "ComDBClose", "ComDBGetCurrentPortUsage", "ComDBClaimPort",
                             "ComDBReleasePort", "ComDBClaimNextFreePort", "ComDBResizeDatabase"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }

    HCOMDB db = Open();
    DWORD maxPorts = 0;
    ReadBits(db, &maxPorts);
    EXPECT_EQ(maxPorts, 256u);
}

TEST_F(ComDbStandIn, OpenCreatesOrRepairsTheDatabaseValue)
{
    DeleteComDbValue();
    Open();
    RegistryValue value = ReadComDbValue();
    ASSERT_EQ(value.result, ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value.data, std::vector<BYTE>(32, 0));

    // A short value keeps its bits and grows to 256 numbers.
    WriteComDbValue(REG_BINARY, {0x81, 0x02});
    HCOMDB db = Open();
    value = ReadComDbValue();
    std::vector<BYTE> grown(32, 0);
    grown[0] = 0x81;
    grown[1] = 0x02;
    EXPECT_EQ(value.data, grown);
    EXPECT_EQ(ReadBits(db), BitsWith({1, 8, 10}));

    // A value of the wrong type is replaced by an empty database.
    WriteComDbValue(REG_DWORD, {1, 0, 0, 0});
    Open();
    value = ReadComDbValue();
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value.data, std::vector<BYTE>(32, 0));
}

TEST_F(ComDbStandIn, InvalidHandlesAndOpenFailure)
{
    EXPECT_EQ(ComDBOpen(nullptr), ERROR_INVALID_PARAMETER);

    HCOMDB closed = nullptr;
    ASSERT_EQ(ComDBOpen(&closed), ERROR_SUCCESS);
    EXPECT_EQ(ComDBClose(closed), ERROR_SUCCESS);

    int local = 0;
    BOOL forced = FALSE;
    DWORD port = 0;
    BYTE buffer[32];
    DWORD maxPorts = 0;
    for (HCOMDB bad : {HCOMDB_INVALID_HANDLE_VALUE, static_cast<HCOMDB>(nullptr), closed,
                       reinterpret_cast<HCOMDB>(&local)}) {
        EXPECT_EQ(ComDBGetCurrentPortUsage(bad, buffer, sizeof buffer, CDB_REPORT_BITS, &maxPorts),
                  ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBClaimPort(bad, 5, FALSE, &forced), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBReleasePort(bad, 5), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBClaimNextFreePort(bad, &port), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBResizeDatabase(bad, 1024), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBClose(bad), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(ReadComDbValue().data, std::vector<BYTE>(32, 0));

    // Handles come from a bounded table: when it is used up the open fails
    // and leaves the invalid handle value; a closed handle's place is reused.
    std::vector<HCOMDB> handles;
    HCOMDB db = nullptr;
    LONG result = ERROR_SUCCESS;
    for (int i = 0; i < 1000 && result == ERROR_SUCCESS; ++i) {
        db = nullptr;
        result = ComDBOpen(&db);
        if (result == ERROR_SUCCESS) handles.push_back(db);
    }
    EXPECT_NE(result, ERROR_SUCCESS);
    EXPECT_EQ(db, HCOMDB_INVALID_HANDLE_VALUE);
    ASSERT_FALSE(handles.empty());
    EXPECT_EQ(ComDBClose(handles.back()), ERROR_SUCCESS);
    handles.pop_back();
    EXPECT_EQ(ComDBOpen(&db), ERROR_SUCCESS);
    handles.push_back(db);
    for (HCOMDB handle : handles) EXPECT_EQ(ComDBClose(handle), ERROR_SUCCESS);
}

TEST_F(ComDbStandIn, ClaimedNumbersAreBitsOfTheRegistryValue)
{
    struct Case {
        int port;
        int byteIndex;
        BYTE mask;
    };
    const Case cases[] = {{1, 0, 0x01}, {8, 0, 0x80}, {9, 1, 0x01}, {100, 12, 0x08}, {256, 31, 0x80}};
    HCOMDB db = Open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.port);
        BOOL forced = TRUE;
        ASSERT_EQ(ComDBClaimPort(db, c.port, FALSE, &forced), ERROR_SUCCESS);
        EXPECT_FALSE(forced);

        Bits expected{};
        expected[c.byteIndex] = c.mask;
        DWORD maxPorts = 0;
        EXPECT_EQ(ReadBits(db, &maxPorts), expected);
        EXPECT_EQ(maxPorts, 256u);
        RegistryValue value = ReadComDbValue();
        ASSERT_EQ(value.result, ERROR_SUCCESS);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
        EXPECT_EQ(value.data, std::vector<BYTE>(expected.begin(), expected.end()));

        ASSERT_EQ(ComDBReleasePort(db, c.port), ERROR_SUCCESS);
        EXPECT_EQ(ReadBits(db), Bits{});
        EXPECT_EQ(ReadComDbValue().data, std::vector<BYTE>(32, 0));
    }
}

TEST_F(ComDbStandIn, UsageReports)
{
    HCOMDB db = Open();
    for (int port : {1, 8, 9, 256}) ASSERT_EQ(ComDBClaimPort(db, port, FALSE, nullptr), ERROR_SUCCESS);

    // One byte per number, 1 for claimed; the size is not reported.
    std::vector<BYTE> bytes(256, 0xCC);
    DWORD maxPorts = 12345;
    ASSERT_EQ(ComDBGetCurrentPortUsage(db, bytes.data(), 256, CDB_REPORT_BYTES, &maxPorts), ERROR_SUCCESS);
    EXPECT_EQ(maxPorts, 12345u);
    std::vector<BYTE> expected(256, 0);
    expected[0] = expected[7] = expected[8] = expected[255] = 1;
    EXPECT_EQ(bytes, expected);

    // Short buffers get the first numbers only.
    std::vector<BYTE> shortBytes(16, 0xCC);
    ASSERT_EQ(ComDBGetCurrentPortUsage(db, shortBytes.data(), 9, CDB_REPORT_BYTES, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Hex(shortBytes.data(), shortBytes.size()), "01000000000000010" "1cccccccccccccc");
    std::vector<BYTE> shortBits(4, 0xCC);
    maxPorts = 0;
    ASSERT_EQ(ComDBGetCurrentPortUsage(db, shortBits.data(), 2, CDB_REPORT_BITS, &maxPorts), ERROR_SUCCESS);
    EXPECT_EQ(Hex(shortBits.data(), shortBits.size()), "8101cccc");
    EXPECT_EQ(maxPorts, 256u);

    // A longer buffer reads as free past the database.
    std::vector<BYTE> longBits(40, 0xCC);
    ASSERT_EQ(ComDBGetCurrentPortUsage(db, longBits.data(), 40, CDB_REPORT_BITS, nullptr), ERROR_SUCCESS);
    std::vector<BYTE> longExpected(40, 0);
    longExpected[0] = 0x81;
    longExpected[1] = 0x01;
    longExpected[31] = 0x80;
    EXPECT_EQ(longBits, longExpected);

    // No buffer: only the size.
    maxPorts = 0;
    EXPECT_EQ(ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BITS, &maxPorts), ERROR_SUCCESS);
    EXPECT_EQ(maxPorts, 256u);
    EXPECT_EQ(ComDBGetCurrentPortUsage(db, nullptr, 0, CDB_REPORT_BITS, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBGetCurrentPortUsage(db, bytes.data(), 32, 2, &maxPorts), ERROR_INVALID_PARAMETER);
}

TEST_F(ComDbStandIn, ClaimAndReleaseRules)
{
    HCOMDB db = Open();
    BOOL forced = TRUE;
    ASSERT_EQ(ComDBClaimPort(db, 5, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced);

    forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(db, 5, FALSE, &forced), ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(forced);
    EXPECT_EQ(ComDBClaimPort(db, 5, TRUE, &forced), ERROR_SUCCESS);
    EXPECT_TRUE(forced);
    EXPECT_EQ(ComDBClaimPort(db, 5, TRUE, nullptr), ERROR_SUCCESS);
    forced = TRUE;
    EXPECT_EQ(ComDBClaimPort(db, 6, TRUE, &forced), ERROR_SUCCESS);
    EXPECT_FALSE(forced) << "a free number is claimed without force";
    EXPECT_EQ(ReadBits(db), BitsWith({5, 6}));

    for (DWORD outside : {0u, 257u, 4096u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(outside);
        EXPECT_EQ(ComDBClaimPort(db, outside, FALSE, &forced), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBClaimPort(db, outside, TRUE, &forced), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(ComDBReleasePort(db, outside), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(ReadBits(db), BitsWith({5, 6}));

    EXPECT_EQ(ComDBReleasePort(db, 5), ERROR_SUCCESS);
    EXPECT_EQ(ComDBReleasePort(db, 5), ERROR_SUCCESS) << "releasing a free number";
    EXPECT_EQ(ReadBits(db), BitsWith({6}));
    EXPECT_EQ(ComDBClaimPort(db, 5, FALSE, &forced), ERROR_SUCCESS);
    EXPECT_EQ(ReadBits(db), BitsWith({5, 6}));
}

TEST_F(ComDbStandIn, ClaimNextFreePortTakesTheLowestFreeNumber)
{
    HCOMDB db = Open();
    for (int port : {1, 2, 3, 5}) ASSERT_EQ(ComDBClaimPort(db, port, FALSE, nullptr), ERROR_SUCCESS);
    DWORD port = 0;
    ASSERT_EQ(ComDBClaimNextFreePort(db, &port), ERROR_SUCCESS);
    EXPECT_EQ(port, 4u);
    ASSERT_EQ(ComDBClaimNextFreePort(db, &port), ERROR_SUCCESS);
    EXPECT_EQ(port, 6u);
    EXPECT_EQ(ReadBits(db), BitsWith({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(ComDBClaimNextFreePort(db, nullptr), ERROR_INVALID_PARAMETER);

    for (DWORD n = 7; n <= 256; ++n) ASSERT_EQ(ComDBClaimPort(db, n, FALSE, nullptr), ERROR_SUCCESS);
    port = 77;
    EXPECT_EQ(ComDBClaimNextFreePort(db, &port), ERROR_NO_LOG_SPACE);
    EXPECT_EQ(port, 77u);
    ASSERT_EQ(ComDBReleasePort(db, 200), ERROR_SUCCESS);
    ASSERT_EQ(ComDBClaimNextFreePort(db, &port), ERROR_SUCCESS);
    EXPECT_EQ(port, 200u);
}

TEST_F(ComDbStandIn, ResizeOnlyGrowsInSteps)
{
    HCOMDB db = Open();
    ASSERT_EQ(ComDBClaimPort(db, 8, FALSE, nullptr), ERROR_SUCCESS);
    for (DWORD size : {0u, 200u, 256u, 1000u, 1500u, 5120u}) {
        EXPECT_EQ(ComDBResizeDatabase(db, size), ERROR_BAD_LENGTH) << size;
    }
    EXPECT_EQ(ReadComDbValue().data.size(), 32u);

    ASSERT_EQ(ComDBResizeDatabase(db, 1024), ERROR_SUCCESS);
    RegistryValue value = ReadComDbValue();
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(value.data.size(), 128u);
    std::vector<BYTE> expected(128, 0);
    expected[0] = 0x80;
    EXPECT_EQ(value.data, expected);
    DWORD maxPorts = 0;
    EXPECT_EQ(ReadBits(db, &maxPorts), BitsWith({8}));
    EXPECT_EQ(maxPorts, 1024u);

    EXPECT_EQ(ComDBClaimPort(db, 1024, FALSE, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(ComDBClaimPort(db, 1025, FALSE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ComDBResizeDatabase(db, 1024), ERROR_BAD_LENGTH);
    EXPECT_EQ(ComDBResizeDatabase(db, 512), ERROR_BAD_LENGTH);

    ASSERT_EQ(ComDBResizeDatabase(db, 4096), ERROR_SUCCESS);
    value = ReadComDbValue();
    ASSERT_EQ(value.data.size(), 512u);
    EXPECT_EQ(value.data[0], 0x80);
    EXPECT_EQ(value.data[127], 0x80);
    EXPECT_EQ(ComDBClaimPort(db, 4096, FALSE, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(ReadComDbValue().data[511], 0x80);
    ReadBits(db, &maxPorts);
    EXPECT_EQ(maxPorts, 4096u);
    EXPECT_EQ(ComDBResizeDatabase(db, 5120), ERROR_BAD_LENGTH);

    // A handle opened later sees the new size.
    DWORD otherMax = 0;
    ReadBits(Open(), &otherMax);
    EXPECT_EQ(otherMax, 4096u);
}

TEST_F(ComDbStandIn, OtherProcessesSeeEveryChange)
{
    HCOMDB db = Open();
    ASSERT_EQ(ComDBClaimPort(db, 8, FALSE, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(ComDBClose(db), ERROR_SUCCESS);
    opened.clear();

    // A process started after the claim finds it.
    Bits withEight = BitsWith({8});
    EXPECT_EQ(RunChild(L"usage"), Hex(withEight.data(), withEight.size()) + " 256");

    // A claim and a release in a child are seen through a handle that was
    // open all along, and by the next process.
    db = Open();
    EXPECT_EQ(RunChild(L"claim 9"), "0");
    EXPECT_EQ(ReadBits(db), BitsWith({8, 9}));
    EXPECT_EQ(RunChild(L"claim 9"), std::to_string(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(RunChild(L"release 8"), "0");
    EXPECT_EQ(ReadBits(db), BitsWith({9}));
    Bits withNine = BitsWith({9});
    EXPECT_EQ(RunChild(L"usage"), Hex(withNine.data(), withNine.size()) + " 256");
}

// Runs two children that wait for one start signal and then claim numbers
// at once, each with its child command (see RunChildCommand); returns, per
// COM number, how many of them got it.
std::vector<int> RaceTwoChildren(const wchar_t *mode0, const wchar_t *mode1)
{
    std::vector<int> owners(257, 0);
    wchar_t suffix[32];
    std::swprintf(suffix, 32, L"%lu", GetCurrentProcessId());
    std::wstring startName = std::wstring(L"KestrovaComDbTestStart") + suffix;
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, startName.c_str());
    EXPECT_NE(start, nullptr);

    Child children[2];
    HANDLE ready[2];
    for (int i = 0; i < 2; ++i) {
        std::wstring readyName = startName + L"Ready" + std::to_wstring(i);
        ready[i] = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
        EXPECT_NE(ready[i], nullptr);
        children[i] = StartChild(std::wstring(i == 0 ? mode0 : mode1) + L" " + startName + L" " + readyName);
        EXPECT_NE(children[i].process, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(2, ready, TRUE, childTimeoutMs), WAIT_OBJECT_0);
    SetEvent(start);

    for (Child &child : children) {
        std::string output;
        EXPECT_EQ(FinishChild(child, output), 0u) << output;
        for (const char *p = output.c_str(); *p;) {
            char *end = nullptr;
            long port = std::strtol(p, &end, 10);
            if (end == p) break;
            EXPECT_TRUE(port >= 1 && port <= 256) << output;
            if (port >= 1 && port <= 256) ++owners[port];
            p = end;
        }
    }
    CloseHandle(start);
    for (HANDLE event : ready) CloseHandle(event);
    return owners;
}

// Each number must go to exactly one process, and the database must end with
// every number that either got. A few rounds, as one round may happen to run
// the two processes one after the other.
TEST_F(ComDbStandIn, ConcurrentClaimsFromTwoProcessesNeverBothSucceed)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        WriteComDbValue(REG_BINARY, std::vector<BYTE>(32, 0));
        std::vector<int> owners = RaceTwoChildren(L"race-claim", L"race-claim");
        for (int port = 1; port <= 256; ++port) {
            EXPECT_EQ(owners[port], port >= 3 ? 1 : 0) << "COM" << port;
        }
        Bits expected{};
        expected.fill(0xFF);
        expected[0] = 0xFC;
        EXPECT_EQ(ReadBits(Open()), expected);
        if (HasFailure()) break;
    }
}

TEST_F(ComDbStandIn, ConcurrentNextFreeAndExplicitClaimsNeverShareANumber)
{
    std::vector<int> owners = RaceTwoChildren(L"race-next", L"race-claim");
    for (int port = 1; port <= 256; ++port) {
        EXPECT_EQ(owners[port], 1) << "COM" << port;
    }
    Bits all{};
    all.fill(0xFF);
    EXPECT_EQ(ReadBits(Open()), all);
}

// Child commands and what they print: "usage" -> the hex bitmap and the size;
// "claim N" / "release N" -> the result code; "race-claim START READY" and
// "race-next START READY" -> after signalling READY and waiting for START,
// the numbers they got, claiming COM3 to COM256 in turn or taking next free
// numbers until none is left.
int RunChildCommand(int argc, char **argv)
{
    HCOMDB db = nullptr;
    if (argc < 1 || ComDBOpen(&db) != ERROR_SUCCESS) return 2;
    std::string output;
    std::string command = argv[0];
    if (command == "usage") {
        Bits bits{};
        DWORD maxPorts = 0;
        if (ComDBGetCurrentPortUsage(db, bits.data(), 32, CDB_REPORT_BITS, &maxPorts) != ERROR_SUCCESS) return 3;
        output = Hex(bits.data(), bits.size()) + " " + std::to_string(maxPorts);
    } else if ((command == "claim" || command == "release") && argc == 2) {
        DWORD port = std::strtoul(argv[1], nullptr, 10);
        LONG result = command == "claim" ? ComDBClaimPort(db, port, FALSE, nullptr) : ComDBReleasePort(db, port);
        output = std::to_string(result);
    } else if ((command == "race-claim" || command == "race-next") && argc == 3) {
        HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, argv[1]);
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
        if (!start || !ready) return 4;
        SetEvent(ready);
        if (WaitForSingleObject(start, childTimeoutMs) != WAIT_OBJECT_0) return 5;
        if (command == "race-claim") {
            for (DWORD port = 3; port <= 256; ++port) {
                LONG result = ComDBClaimPort(db, port, FALSE, nullptr);
                if (result == ERROR_SUCCESS) output += std::to_string(port) + " ";
                if (result != ERROR_SUCCESS && result != ERROR_SHARING_VIOLATION) return 6;
            }
        } else {
            DWORD port = 0;
            LONG result = ERROR_SUCCESS;
            while ((result = ComDBClaimNextFreePort(db, &port)) == ERROR_SUCCESS) {
                output += std::to_string(port) + " ";
            }
            if (result != ERROR_NO_LOG_SPACE) return 7;
        }
        CloseHandle(start);
        CloseHandle(ready);
    } else {
        return 8;
    }
    ComDBClose(db);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()), &written, nullptr);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--comdb-child") == 0) return RunChildCommand(argc - 2, argv + 2);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

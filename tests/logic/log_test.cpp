// The activity log: prefix, shared counter, last-error lines, raw text.
#include "services/log.h"

#include <cstring>
#include <functional>
#include <vector>

#include "program_fixture.h"

namespace {

class LogTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        OpenMain({});
        EditSetText(dialog, IDC_LOG, "");
        ModelClearDebugText();
    }
};

TEST_F(LogTest, TimestampedLinesShareOneRisingCounter) {
    unsigned first = lineCounter.load();
    LogMessage("first %d", 1);
    SetLastErrorCode(2);
    LogLastError("second %s", "x");
    SetLastErrorCode(5);
    LogLastError("  %s.CreateFile", "\\\\.\\COM4");
    SetLastErrorCode(0x4C7);
    LogLastError("unknown");  // hexadecimal code, no text of its own
    char expected[512];
    std::snprintf(expected, sizeof expected,
                  "%04u#14:03:59:082>> first 1\r\n"
                  "%04u#14:03:59:082>> second x:Last Err(2)The system cannot find the file specified.\r\n"
                  "%04u#14:03:59:082>>   \\\\.\\COM4.CreateFile:Last Err(5)Access is denied.\r\n"
                  "%04u#14:03:59:082>> unknown:Last Err(4c7)\r\n",
                  first, first + 1, first + 2, first + 3);
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(ModelDebugText(), expected) << "every timestamped line goes to the debugger output";

    ClickButton(dialog, IDC_CLEAR);
    EXPECT_EQ(Log(), "");
    LogMessage("after clear");
    std::snprintf(expected, sizeof expected, "%04u#", first + 4);
    EXPECT_EQ(Log().substr(0, 5), expected) << "the counter is never reset";
}

TEST_F(LogTest, RawTextHasNoPrefixAndIsNoDebuggerOutput) {
    AppendText("\r\n|--%d#", 1);
    EXPECT_EQ(Log(), "\r\n|--1#");
    EXPECT_EQ(ModelDebugText(), "");
}

TEST_F(LogTest, ABlockLongerThanItsBufferReachesTheLogWholeAndInOrder) {
    static LogBlock block;
    BlockBegin(block);
    std::string expected;
    for (int i = 0; expected.size() <= 2 * sizeof block.text; ++i) {
        std::string line = "\r\n|--" + std::to_string(i) + "#" + std::string(i % 2000, 'x');
        BlockAppend(block, "%s", line.c_str());
        expected += line;
    }
    BlockFlush(block);
    EXPECT_EQ(Log(), expected);
    unsigned appends = ModelEditAppends(dialog, IDC_LOG);
    for (auto pieces : {std::vector<const char*>{"\r\n|--a", "", "b"}, {"c"}}) {
        BlockBegin(block);
        for (const char* piece : pieces)
            BlockAppend(block, "%s", piece);
        BlockFlush(block);
        EXPECT_EQ(ModelEditAppends(dialog, IDC_LOG), ++appends) << "a block that fits goes in one append";
    }
}

TEST_F(LogTest, OverlongTextIsCutBetweenCharactersAndStillEndsTheLine) {
    std::string wide;
    for (int i = 0; i < 4000; ++i)
        wide += "中";
    auto raw = [&](const std::string& text) { AppendText("%s", text.c_str()); };
    auto line = [](const std::string& text) { LogMessage("%s", text.c_str()); };
    auto errorLine = [](const std::string& text) {
        SetLastErrorCode(5);
        LogLastError("%s", text.c_str());
    };
    struct Case {
        const char* what;
        std::function<void(const std::string&)> write;
        std::string text;
        std::size_t size;  // 0: any size below one log line
        const char* tail;
    } cases[] = {
        {"raw text beyond its buffer ends with a line break", raw, std::string(20000, 'x'), 10239, "xx\n"},
        {"raw text that fits is kept whole", raw, std::string(10239, 'y'), 10239, "yy"},
        {"the raw-text cut backs up to a character boundary", raw, "x" + wide, 10238, "中\n"},
        {"a line is cut between characters and marked", line, wide, 0, "中...\r\n"},
        {"a cut error line still ends the line", errorLine, wide, 0, "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EditSetText(dialog, IDC_LOG, "");
        c.write(c.text);
        std::string log = Log();
        if (c.size != 0) {
            EXPECT_EQ(log.size(), c.size);
        } else {
            EXPECT_LT(log.size(), kLogLineSize);
        }
        EXPECT_EQ(log.substr(log.size() - std::strlen(c.tail)), c.tail);
    }
}

}  // namespace

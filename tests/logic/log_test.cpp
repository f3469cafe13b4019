// The activity log: prefix, shared counter, last-error lines, raw text.
#include "services/log.h"

#include "program_fixture.h"

namespace {

class LogTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        LoadCards({});
        OpenMain();
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

TEST_F(LogTest, RawTextIsAppendedWithoutPrefixAndTruncatedWithALineBreak) {
    AppendText(dialog, IDC_LOG, "\r\n|--%d#", 1);
    EXPECT_EQ(Log(), "\r\n|--1#");
    EXPECT_EQ(ModelDebugText(), "") << "raw text is not debugger output";

    EditSetText(dialog, IDC_LOG, "");
    std::string big(20000, 'x');
    AppendText(dialog, IDC_LOG, "%s", big.c_str());
    std::string log = Log();
    ASSERT_EQ(log.size(), 10239u);
    EXPECT_EQ(log[10237], 'x');
    EXPECT_EQ(log[10238], '\n');

    EditSetText(dialog, IDC_LOG, "");
    std::string fits(10239, 'y');
    AppendText(dialog, IDC_LOG, "%s", fits.c_str());
    EXPECT_EQ(Log(), fits) << "text that fits is kept whole";
}

TEST_F(LogTest, OverlongTextIsCutBetweenCharactersAndStillEndsTheLine) {
    std::string big;
    for (int i = 0; i < 4000; ++i) big += "中";
    LogMessage("%s", big.c_str());
    std::string log = Log();
    EXPECT_LT(log.size(), kLogLineSize);
    EXPECT_EQ(log.substr(log.size() - 8), "中...\r\n");

    EditSetText(dialog, IDC_LOG, "");
    SetLastErrorCode(5);
    LogLastError("%s", big.c_str());
    log = Log();
    EXPECT_LT(log.size(), kLogLineSize);
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n") << "a cut error line still ends the line";

    EditSetText(dialog, IDC_LOG, "");
    AppendText(dialog, IDC_LOG, "x%s", big.c_str());
    log = Log();
    ASSERT_EQ(log.size(), 10238u) << "the raw-text cut backs up to a character boundary";
    EXPECT_EQ(log.substr(log.size() - 4), "中\n");
}

}  // namespace

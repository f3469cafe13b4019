// Text building on fixed buffers: never beyond the buffer, shortened visibly.
#include "text/bounded_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "services/messages.h"
#include "text/com_name.h"

namespace {

TEST(BoundedTextTest, AppendsUntilFullThenEndsWithEllipsis) {
    char buffer[16] = "COM1,";
    EXPECT_TRUE(AppendFormat(buffer, sizeof buffer, "COM%d,", 2));
    EXPECT_STREQ(buffer, "COM1,COM2,");
    EXPECT_FALSE(AppendFormat(buffer, sizeof buffer, "COM%d,", 300));
    EXPECT_STREQ(buffer, "COM1,COM2,CO...");
    EXPECT_FALSE(AppendFormat(buffer, sizeof buffer, "COM%d,", 4)) << "a full buffer stays full";
    EXPECT_STREQ(buffer, "COM1,COM2,CO...");
}

TEST(BoundedTextTest, NeverSplitsAUtf8Character) {
    char buffer[12];
    EXPECT_FALSE(FormatText(buffer, sizeof buffer, "%s", "串口号修改"));  // 15 bytes
    EXPECT_STREQ(buffer, "串口...");
    char tiny[5];
    EXPECT_FALSE(FormatText(tiny, sizeof tiny, "%s", "串口"));
    EXPECT_STREQ(tiny, "...") << "no part of the first character";
    char exact[16];
    EXPECT_TRUE(FormatText(exact, sizeof exact, "%s", "串口号修改"));
    EXPECT_STREQ(exact, "串口号修改");
}

TEST(BoundedTextTest, RepairsAnUnterminatedBuffer) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    AppendFormat(buffer, sizeof buffer, "y");
    EXPECT_STREQ(buffer, "xxxx...");
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(AppendFormat(buffer, sizeof buffer, "%s", ""));
    EXPECT_STREQ(buffer, "xxxxxxx") << "the repair keeps all that fits";
}

TEST(BoundedTextTest, BuffersTooSmallForTheEllipsisEndEmptyAndNothingBeyond) {
    for (std::size_t size = 1; size <= 3; ++size) {
        struct {
            char text[3];
            char guard[4];
        } buffer;
        std::memset(&buffer, 'x', sizeof buffer);
        EXPECT_FALSE(AppendFormat(buffer.text, size, "%s", "longer"));
        EXPECT_EQ(buffer.text[0], '\0') << size;
        EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), "xxxx") << size;
    }
    char untouched = 'x';
    EXPECT_FALSE(FormatText(&untouched, 0, "%s", "y")) << "no room at all";
    EXPECT_FALSE(AppendFormat(&untouched, 0, "%s", "y"));
    EXPECT_EQ(untouched, 'x');
}

TEST(SubstituteTextTest, ReplacesOnlyTheFirstPlaceholderAndNeverFormats) {
    char buffer[64];
    SubstituteText(buffer, sizeof buffer, "当前串口号(%s)已被分配", "COM5,COM6,");
    EXPECT_STREQ(buffer, "当前串口号(COM5,COM6,)已被分配");
    SubstituteText(buffer, sizeof buffer, "(COM%d) 100%% %s %n", "7");
    EXPECT_STREQ(buffer, "(COM7) 100% %s %n");
    SubstituteText(buffer, sizeof buffer, "no placeholder", "x");
    EXPECT_STREQ(buffer, "no placeholder");
    SubstituteText(buffer, 8, "%s", "a value that is far too long");
    EXPECT_STREQ(buffer, "a va...");
    SubstituteText(buffer, 1, "%s", "x");
    EXPECT_STREQ(buffer, "") << "room for the end only";
}

TEST(ComNameTest, TakesCOMAndADecimalNumberThatFitsOnly) {
    std::uint16_t number = 0;
    EXPECT_TRUE(ParseComName("COM65535", &number));
    EXPECT_EQ(number, 65535);
    for (const char* name : {"COM65536", "COM4294967299", "COM05", "COM", "COM5x", "LPT1"}) {
        EXPECT_FALSE(ParseComName(name, &number)) << name;
    }
}

}  // namespace

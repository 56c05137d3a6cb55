#include <gtest/gtest.h>

#include <string>

#include "log/log_line.h"
#include "util/text.h"

TEST(CopyText, CutsAtTheDestinationAndTerminates)
{
    char dst[8];
    EXPECT_EQ(7u, CopyText(dst, "0123456789"));
    EXPECT_STREQ("0123456", dst);
    EXPECT_EQ(3u, CopyText(dst, "abc"));
    EXPECT_STREQ("abc", dst);
    EXPECT_EQ(0u, CopyText(dst, nullptr));
    EXPECT_STREQ("", dst);
}

TEST(AppendText, FillsUpToTheDestinationOnly)
{
    char dst[10] = "abc";
    AppendText(dst, "defghijkl");
    EXPECT_STREQ("abcdefghi", dst);
    AppendText(dst, "more");
    EXPECT_STREQ("abcdefghi", dst);
}

TEST(FormatLine, KeepsTheLineEndWhenTheTextIsCut)
{
    char line[12];
    EXPECT_EQ(8, FormatLine(line, "\r\n", "%s-%d", "ab", 123));
    EXPECT_STREQ("ab-123\r\n", line);

    EXPECT_EQ(11, FormatLine(line, "\r\n", "%s", "a long message that cannot fit"));
    EXPECT_STREQ("a long me\r\n", line);
}

TEST(FormatText, ReportsWhatWasWrittenNotWhatWasWanted)
{
    char dst[5];
    EXPECT_EQ(4, FormatText(dst, "%d", 1234567));
    EXPECT_STREQ("1234", dst);
}

TEST(AsciiCase, OnlyLettersAToZChange)
{
    char text[] = "\\\\?\\USB#VID_0A0B&PID_1234#\xC4\xD6#{A5DC}";
    LowerAsciiInPlace(text);
    EXPECT_STREQ("\\\\?\\usb#vid_0a0b&pid_1234#\xC4\xD6#{a5dc}", text);

    EXPECT_TRUE(EqualsIgnoreAsciiCase("USB#Vid", "usb#vID"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("usb", "usb1"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase("\xC4", "\xE4"));  // no letters beyond ASCII
    EXPECT_FALSE(EqualsIgnoreAsciiCase("[", "{"));
}

TEST(TraceElapsed, CapsAt9999AndSurvivesTheCounterWrap)
{
    EXPECT_EQ(15u, TraceElapsed(1015, 1000));
    EXPECT_EQ(9999u, TraceElapsed(10999, 1000));
    EXPECT_EQ(9999u, TraceElapsed(11000, 1000));
    EXPECT_EQ(9999u, TraceElapsed(0xFFFFFFFFu, 0));
    // 0xFFFFFFF0 to 0x00000010 across the wrap is 32 ms.
    EXPECT_EQ(32u, TraceElapsed(0x10u, 0xFFFFFFF0u));
}

TEST(ReplaceControlChars, BlanksControlsAndKeepsPrintableBytes)
{
    char text[] = "Stick\r\n2026 - 00:00  USB storage device attached\t\x1b[2J\x7f|\xE4\xF6\xFC\x80\xFF";
    ReplaceControlChars(text);
    EXPECT_STREQ("Stick  2026 - 00:00  USB storage device attached  [2J |\xE4\xF6\xFC\x80\xFF", text);
}

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "device/volume_table.h"
#include "eventlog/event_text.h"
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

// The lead bytes of code page 932 (Japanese) as the system reports them.
TEST(CopyText, NeverSplitsADoubleByteCharacterOfTheAnsiCodePage)
{
    CPINFO cp932;
    ASSERT_TRUE(GetCPInfo(932, &cp932));
    SetLeadByteRanges(cp932.LeadByte, sizeof cp932.LeadByte);

    char field[3];
    EXPECT_EQ(1u, CopyText(field, "a\x82\xA0\x82\xA2")) << "the lead byte goes with its trail";
    EXPECT_STREQ("a", field);
    EXPECT_EQ(2u, CopyText(field, "\x82\x82\x82\x82")) << "a trail byte that could lead is a trail";
    char quoted[6];
    FormatText(quoted, "'%s'", "a\x82\xA0\x82\xA2");
    EXPECT_STREQ("'a\x82\xA0", quoted);
    const unsigned char singleByte[2] = {0, 0};
    SetLeadByteRanges(singleByte, sizeof singleByte);
    EXPECT_EQ(2u, CopyText(field, "a\x82\xA0"));
}

// Where the ANSI code page is UTF-8, a cut keeps each sequence whole.
TEST(CopyText, NeverSplitsAUtf8CharacterWhereTheCodePageIsUtf8)
{
    SetUtf8CodePage(true);
    char field[4];
    EXPECT_EQ(1u, CopyText(field, "a\xE2\x82\xAC")) << "three bytes do not fit in three";
    EXPECT_EQ(3u, CopyText(field, "a\xC3\xA4\xC3\xB6"));
    EXPECT_EQ(0u, CopyText(field, "\xF0\x9F\x94\x8C"));
    EXPECT_EQ(3u, CopyText(field, "\x80\x80\x80\x80")) << "what is not UTF-8 is cut as bytes";
    SetUtf8CodePage(false);
    EXPECT_EQ(3u, CopyText(field, "a\xE2\x82\xAC"));
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

// A field of the device log line cannot close itself: its quotes come in
// pairs, also where the field is cut.
TEST(DoubleQuotes, DoublesEveryQuoteAndCutsBetweenPairs)
{
    char field[QUOTED_FIELD_SIZE];
    EXPECT_EQ(42u, DoubleQuotes(field, "Keyboard' / 'HID Keyboard Device' / 'x"));
    EXPECT_STREQ("Keyboard'' / ''HID Keyboard Device'' / ''x", field);
    char small[5];
    EXPECT_EQ(3u, DoubleQuotes(small, "abc'd")) << "never half a pair";
    EXPECT_EQ(4u, DoubleQuotes(small, "''c"));
}

TEST(EventStrings, TheConsoleUserIsDomainBackslashUserTheNameAloneOrNothing)
{
    char szUser[CONSOLE_USER_SIZE];
    FormatConsoleUser(szUser, "VM", "root");
    EXPECT_STREQ("VM\\root", szUser);
    FormatConsoleUser(szUser, "", "root");
    EXPECT_STREQ("root", szUser);
    FormatConsoleUser(szUser, "VM", "");
    EXPECT_STREQ("", szUser) << "nobody logged on";
    FormatConsoleUser(szUser, nullptr, nullptr);
    EXPECT_STREQ("", szUser);

    // Longer names than the field holds are cut inside it.
    struct {
        char szUser[CONSOLE_USER_SIZE];
        char guard[4];
    } padded;
    std::memset(padded.guard, 'G', sizeof padded.guard);
    const std::string domain(20, 'D');
    const std::string user(300, 'u');
    FormatConsoleUser(padded.szUser, domain.c_str(), user.c_str());
    EXPECT_EQ((domain + "\\" + user).substr(0, CONSOLE_USER_SIZE - 1), padded.szUser);
    EXPECT_EQ(std::string(4, 'G'), std::string(padded.guard, 4));
}

// Windows' record of a device's times, FILETIMEs, as the events give them.
TEST(EventStrings, AFileTimeReadsAsUtcToTheSecond)
{
    char szTime[UTC_TIME_SIZE];
    FormatUtcTime(szTime, UtcTimeFromFileTime(0));
    EXPECT_STREQ("1601-01-01T00:00:00Z", szTime);
    FormatUtcTime(szTime, UtcTimeFromFileTime(125962560009999999ull));  // a leap day's last tick
    EXPECT_STREQ("2000-02-29T00:00:00Z", szTime);
    FormatUtcTime(szTime, UtcTimeFromFileTime(134089704009990000ull));
    EXPECT_STREQ("2025-11-30T10:00:00Z", szTime) << "cut to the second, not rounded";
}

TEST(EventStrings, TheRunIsItsStartInUtcToTheMillisecond)
{
    char szRun[RUN_ID_SIZE];
    FormatRunId(szRun, {2026, 12, 7, 6, 39, 5, 7});
    EXPECT_STREQ("2026-12-07T06:39:05.007Z", szRun);
}

TEST(VolumeStrings, TheSerialNumberReadsAsVolShowsItAndTheCapacityInDecimal)
{
    char szSerial[VOLUME_SERIAL_SIZE];
    FormatVolumeSerial(szSerial, 0x4C530001);
    EXPECT_STREQ("4C53-0001", szSerial);
    FormatVolumeSerial(szSerial, 0xFFFFFFFF);
    EXPECT_STREQ("FFFF-FFFF", szSerial);
    char szCapacity[VOLUME_CAPACITY_SIZE];
    FormatCapacity(szCapacity, 0);
    EXPECT_STREQ("0", szCapacity);
    FormatCapacity(szCapacity, 0xFFFFFFFFFFFFFFFFull);
    EXPECT_STREQ("18446744073709551615", szCapacity);
}

// A letter holds one volume until its removal; the same volume again is a
// repeat, a card reader's new medium is a new one, and a volume heard of
// through its interface can be removed by that path.
TEST(VolumeTable, OneVolumePerLetterUntilItGoes)
{
    CVolumeTable table;
    VolumeFacts facts = {"E:", "STICK", "FAT32", "4C53-0001", "1024", "\\\\?\\Volume{A}\\", "", CAPABILITIES_UNKNOWN};
    EXPECT_TRUE(table.Mount(facts, nullptr, false));
    EXPECT_TRUE(table.Mount(facts, nullptr, true)) << "a new medium";
    EXPECT_FALSE(table.Mount(facts, "\\\\?\\STORAGE#Volume#1", false)) << "a repeat";
    EXPECT_EQ('E', table.LetterOfInterface("\\\\?\\storage#volume#1"));
    VolumeFacts removed = {};
    EXPECT_TRUE(table.Unmount('e', removed));
    EXPECT_STREQ("STICK", removed.szLabel);
    EXPECT_FALSE(table.IsMounted('E'));
    EXPECT_FALSE(table.Unmount('E', removed));
    EXPECT_FALSE(table.Mount(VolumeFacts{"1:", "", "", "", "", "", "", CAPABILITIES_UNKNOWN}, nullptr, false)) << "no drive letter";
}

// Event 122 when a device cannot be recorded as known: why, and what follows.
TEST(EventStrings, AKnownDeviceThatCannotBeRecordedIsExplained)
{
    char szText[KNOWN_DEVICE_FAILURE_SIZE];
    FormatKnownDeviceFailure(szText, "SOFTWARE\\P", 4096, nullptr, 0, "");
    EXPECT_STREQ("The record of devices this machine has seen (HKLM\\SOFTWARE\\P) is full at 4096 devices: every "
                 "device first seen from now on gets event 108 at every attachment",
                 szText);
    FormatKnownDeviceFailure(szText, "SOFTWARE\\P", 4096, "USB\\X", 5, "Access is denied.");
    EXPECT_STREQ("USB\\X cannot be recorded as a device this machine has seen, so it gets event 108 again at its "
                 "next attachment: RegSetValueExA(HKLM\\SOFTWARE\\P) failed, error 5: Access is denied.",
                 szText);
}

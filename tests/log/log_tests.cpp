#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "log/log.h"
#include "support/processes.h"
#include "support/test_files.h"

namespace {

std::string SystemDateNow()
{
    char date[64];
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, date, sizeof date);
    return date;
}

std::string SystemTimeNow()
{
    char time[64];
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, time, sizeof time);
    return time;
}

// What the DACL allows the well-known account, summed over its entries.
ACCESS_MASK AllowedTo(PACL pDacl, WELL_KNOWN_SID_TYPE account)
{
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof sid;
    EXPECT_TRUE(CreateWellKnownSid(account, nullptr, sid, &cbSid));
    ACCESS_MASK allowed = 0;
    void* pAce = nullptr;
    for (DWORD i = 0; GetAce(pDacl, i, &pAce); ++i) {
        auto* pAllowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, pAllowed->Header.AceType);
        if (EqualSid(&pAllowed->SidStart, sid)) allowed |= pAllowed->Mask;
    }
    return allowed;
}

class DeviceLogTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteIfPresent(DEVICE_LOG_PATH); }
    void TearDown() override { DeleteIfPresent(DEVICE_LOG_PATH); }
};

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { DeleteIfPresent(TRACE_LOG_PATH); }
    void TearDown() override
    {
        bTraceToFile = 0;
        bTraceToDebugger = 0;
        DeleteIfPresent(TRACE_LOG_PATH);
    }
};

}  // namespace

TEST(LogFileSecurity, FullControlForSystemAndAdministratorsOnlyReadForUsers)
{
    InitLogSecurity();
    ASSERT_NE(nullptr, LogFileSecurity());
    const PSECURITY_DESCRIPTOR pSd = LogFileSecurity()->lpSecurityDescriptor;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(pSd, &control, &dwRevision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder's grants would be inherited";
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted));
    ASSERT_TRUE(bPresent && pDacl != nullptr) << "no DACL grants everyone everything";
    EXPECT_EQ(FILE_ALL_ACCESS, AllowedTo(pDacl, WinLocalSystemSid));
    EXPECT_EQ(FILE_ALL_ACCESS, AllowedTo(pDacl, WinBuiltinAdministratorsSid));
    EXPECT_EQ(FILE_GENERIC_READ, AllowedTo(pDacl, WinBuiltinUsersSid));
    for (WELL_KNOWN_SID_TYPE account : {WinWorldSid, WinAuthenticatedUserSid, WinInteractiveSid})
        EXPECT_EQ(0u, AllowedTo(pDacl, account)) << account;
}

TEST_F(DeviceLogTest, AppendsDatedLinesToAnExistingLogAndKeepsItsPermissions)
{
    // A log from an older build, with default security: it keeps it.
    std::ofstream(DEVICE_LOG_PATH, std::ios::binary) << "kept from before\r\n";
    const std::string dacl = FileDacl(DEVICE_LOG_PATH);
    ASSERT_NE(std::string::npos, dacl.find(";;;WD)")) << dacl;
    CreateDeviceLog();
    const std::string date = SystemDateNow();
    const std::string before = SystemTimeNow();
    LogDevice("%s device %s: '%s' / '%s' / '%s'", "USB storage", "attached", "Stick", "Disk", "Maker");
    LogDevice("%s", "second");
    const std::string after = SystemTimeNow();

    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("kept from before", lines[0]);
    const std::string message = "USB storage device attached: 'Stick' / 'Disk' / 'Maker'";
    EXPECT_TRUE(lines[1] == date + " - " + before + "  " + message || lines[1] == date + " - " + after + "  " + message)
        << lines[1];
    EXPECT_EQ("second", lines[2].substr(lines[2].size() - 6));
    EXPECT_EQ('\n', ReadWholeFile(DEVICE_LOG_PATH).back());
    EXPECT_EQ(dacl, FileDacl(DEVICE_LOG_PATH));
}

TEST_F(DeviceLogTest, IgnoresTheUsersOwnDateAndTimeFormats)
{
    char saved[80] = "";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved, sizeof saved);
    ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, "yyyy'!user!'MM"));
    LogDevice("x");
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, saved);

    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(std::string::npos, lines[0].find("!user!")) << lines[0];
    EXPECT_EQ(0u, lines[0].find(SystemDateNow() + " - ")) << lines[0];
}

TEST_F(DeviceLogTest, KeepsEachDeviceOnOneLine)
{
    LogDevice("%s device %s: '%s' / '%s' / '%s'", "USB storage", "attached", "Evil\r\n01/01/2000 - 0:00  forged",
              "tab\there", "bell\a\x7f\xE9");
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos,
              lines[0].find("attached: 'Evil  01/01/2000 - 0:00  forged' / 'tab here' / 'bell  \xE9'"))
        << lines[0];
}

TEST_F(DeviceLogTest, CutsAnOverlongMessageButKeepsTheLineEnd)
{
    const std::string huge(3000, 'x');
    LogDevice("%s", huge.c_str());
    const std::string all = ReadWholeFile(DEVICE_LOG_PATH);
    EXPECT_EQ(1023u, all.size());
    EXPECT_EQ("\r\n", all.substr(all.size() - 2));
}

TEST_F(DeviceLogTest, WaitsForAnotherProcessThatHoldsTheLogBriefly)
{
    FileHolder holder(DEVICE_LOG_PATH, 1000);
    ASSERT_TRUE(holder.Held());
    LogDevice("written after the hold");
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("written after the hold"));
}

TEST_F(DeviceLogTest, GivesUpOnAHoldThatOutlastsTheRetries)
{
    {
        FileHolder holder(DEVICE_LOG_PATH, 4000);
        ASSERT_TRUE(holder.Held());
        LogDevice("dropped");
    }
    LogDevice("kept");
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("kept"));
}

TEST(AppendToFile, DropsTextWhenThePathCannotBeOpened)
{
    const char path[] = "C:\\no_such_directory\\x.log";
    AppendToFile(path, "text");
    EXPECT_FALSE(FileExists(path));
    AppendToFile("Q:\\no_drive.log", "text");
}

TEST_F(TraceTest, WritesNothingWithTheSwitchesOff)
{
    Trace(1, "nothing %d", 1);
    EXPECT_FALSE(FileExists(TRACE_LOG_PATH));
}

TEST_F(TraceTest, FileLinesCarryTimeElapsedPrefixAndMessage)
{
    bTraceToFile = 1;
    dwLastTraceTick = GetTickCount() - 60000;
    Trace(1, "first %s", "line");
    Trace(2, "second");
    Trace(3, "second");

    const auto lines = ReadLines(TRACE_LOG_PATH);
    ASSERT_EQ(3u, lines.size());
    const size_t open = lines[0].find("  (9999):   first line");
    ASSERT_NE(std::string::npos, open) << lines[0];
    EXPECT_EQ(lines[0].size(), open + std::string("  (9999):   first line").size());

    // The level changes nothing, and short gaps show right-aligned in four.
    for (size_t i = 1; i < 3; ++i) {
        const size_t p = lines[i].find("  (");
        ASSERT_NE(std::string::npos, p) << lines[i];
        EXPECT_EQ("):   second", lines[i].substr(p + 7)) << lines[i];
        EXPECT_EQ(' ', lines[i][p + 3]) << "elapsed below 1000 ms is padded: " << lines[i];
    }
}

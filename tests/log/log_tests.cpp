#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "log/append_file.h"
#include "log/device_log.h"
#include "eventlog/event_log.h"
#include "log/log_backlog.h"
#include "log/log_file_security.h"
#include "log/log_line.h"
#include "log/trace.h"
#include "eventlog/run.h"
#include "eventlog/run_state.h"
#include "support/reported_events.h"
#include "support/test_files.h"
#include "util/scoped_handle.h"
#include "util/system_error.h"

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

std::string SidText(PSID pSid)
{
    char* pszSid = nullptr;
    if (!ConvertSidToStringSidA(pSid, &pszSid)) return "?";
    const std::string text = pszSid;
    LocalFree(pszSid);
    return text;
}

// What the DACL allows, by SID; every entry must be an allowing one.
std::map<std::string, ACCESS_MASK> Grants(PACL pDacl)
{
    std::map<std::string, ACCESS_MASK> grants;
    void* pAce = nullptr;
    for (DWORD i = 0; GetAce(pDacl, i, &pAce); ++i) {
        auto* pAllowed = static_cast<ACCESS_ALLOWED_ACE*>(pAce);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, pAllowed->Header.AceType);
        grants[SidText(&pAllowed->SidStart)] |= pAllowed->Mask;
    }
    return grants;
}

class DeviceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteIfPresent(DEVICE_LOG_PATH);
        theDeviceLog.SetNoticeSink(ReportDeviceLogNotice);  // as a run does
    }
    void TearDown() override
    {
        RemoveLink(DEVICE_LOG_PATH);
        RemoveDirectoryA(DEVICE_LOG_PATH);
        DeleteIfPresent(DEVICE_LOG_PATH);
    }
};

std::string ErrorText(DWORD dwError)
{
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText);
    std::string text = szText;
    return text.substr(0, text.find_last_not_of("\r\n ") + 1);
}

std::string Ending(const std::string& line, size_t n)
{
    return line.size() < n ? line : line.substr(line.size() - n);
}

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

// Owned by Administrators, protected, and granting exactly these rights.
void ExpectProtection(const SECURITY_ATTRIBUTES* pSa, const std::map<std::string, ACCESS_MASK>& grants)
{
    ASSERT_NE(nullptr, pSa);
    const PSECURITY_DESCRIPTOR pSd = pSa->lpSecurityDescriptor;
    PSID pOwner = nullptr;
    BOOL bDefaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(pSd, &pOwner, &bDefaulted));
    ASSERT_NE(nullptr, pOwner) << "the creator would own it, and may always rewrite the permissions";
    EXPECT_EQ("S-1-5-32-544", SidText(pOwner));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(pSd, &control, &dwRevision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the parent's grants would be inherited";
    BOOL bPresent = FALSE;
    PACL pDacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(pSd, &bPresent, &pDacl, &bDefaulted));
    ASSERT_TRUE(bPresent && pDacl != nullptr) << "no DACL grants everyone everything";
    EXPECT_EQ(grants, Grants(pDacl));
}

}  // namespace

TEST(LogSecurity, OnlySystemAndAdministratorsMayWriteTheLogAndTheRunState)
{
    InitLogFileSecurity();
    ExpectProtection(LogFileSecurity(), {{"S-1-5-18", FILE_ALL_ACCESS},
                                         {"S-1-5-32-544", FILE_ALL_ACCESS},
                                         {"S-1-5-32-573", FILE_GENERIC_READ}});
    ExpectProtection(RunStateSecurity(),
                     {{"S-1-5-18", KEY_ALL_ACCESS}, {"S-1-5-32-544", KEY_ALL_ACCESS}, {"S-1-5-32-545", KEY_READ}});
}

TEST_F(DeviceLogTest, AppendsDatedLinesToAnExistingLogAndKeepsItsPermissions)
{
    // A log from an older build, with default security: it keeps it.
    std::ofstream(DEVICE_LOG_PATH, std::ios::binary) << "kept from before\r\n";
    const std::string dacl = FileDacl(DEVICE_LOG_PATH);
    ASSERT_NE(std::string::npos, dacl.find(";;;WD)")) << dacl;
    DWORD dwError = 0;
    EXPECT_EQ(DeviceLogState::Writable, theDeviceLog.Create(&dwError));
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

TEST_F(DeviceLogTest, LinesWaitInOrderWhileAReaderHoldsTheLogAndGoFirstOnceItIsFree)
{
    {
        ScopedFile reader(CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(reader);
        LogDevice("first");
        LogDevice("second");
        EXPECT_FALSE(theDeviceLog.FlushBacklog());
    }
    EXPECT_EQ("", ReadWholeFile(DEVICE_LOG_PATH));
    LogDevice("third");
    EXPECT_FALSE(theDeviceLog.BacklogPending());
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(0u, lines[0].find(SystemDateNow() + " - ")) << "a waiting line keeps its date: " << lines[0];
    EXPECT_EQ("  first", lines[0].substr(lines[0].size() - 7));
    EXPECT_EQ("  second", lines[1].substr(lines[1].size() - 8));
    EXPECT_EQ("  third", lines[2].substr(lines[2].size() - 7));
}

// A held log is an everyday matter: it is reported only once lines no
// longer fit, once, with the sharing violation; the loss line then goes with
// a 102 of the same count.
TEST_F(DeviceLogTest, LinesBeyondTheBacklogAreCountedInOneLineOnceTheLogIsFree)
{
    ReportedEvents events;
    {
        ScopedFile reader(CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(reader);
        for (unsigned i = 0; i < LOG_BACKLOG_LINES; ++i) LogDevice("line %u", i);
        EXPECT_TRUE(events.Take().empty()) << "nothing lost yet";
        for (unsigned i = LOG_BACKLOG_LINES; i < LOG_BACKLOG_LINES + 12; ++i) LogDevice("line %u", i);
        const std::vector<ReportedEvent> reported = events.Take();
        ASSERT_EQ(1u, reported.size());
        EXPECT_EQ(EVENT_LOG_UNWRITABLE, reported[0].dwId);
        EXPECT_EQ("32", reported[0].strings[1]) << "the sharing violation's code";
    }
    EXPECT_TRUE(theDeviceLog.FlushBacklog());
    const std::vector<ReportedEvent> reported = events.Take();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(EVENT_LINES_LOST, reported[0].dwId);
    EXPECT_EQ(std::vector<std::string>{"12"}, reported[0].strings);
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(LOG_BACKLOG_LINES + 1, lines.size());
    EXPECT_EQ("  line 0", lines[0].substr(lines[0].size() - 8));
    EXPECT_EQ("  line 255", lines[255].substr(lines[255].size() - 10));
    const std::string loss = "  Plugtrail: 12 device log lines lost while the log could not be written";
    EXPECT_EQ(0u, lines[256].find(SystemDateNow() + " - ")) << lines[256];
    EXPECT_EQ(loss, lines[256].substr(lines[256].size() - loss.size()));
}

// A full disk and a folder in the log's place refuse every line; the lines
// wait in order, and each episode of refusals is reported once.
TEST_F(DeviceLogTest, AnUnwritableLogKeepsItsLinesAndSaysSoOncePerEpisode)
{
    ReportedEvents events;
    ASSERT_TRUE(LinkToDiskFull(DEVICE_LOG_PATH));
    LogDevice("first");
    LogDevice("second");
    std::vector<ReportedEvent> reported = events.Take();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(EVENT_LOG_UNWRITABLE, reported[0].dwId);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, reported[0].wType);
    EXPECT_EQ((std::vector<std::string>{DEVICE_LOG_PATH, "112", ErrorText(ERROR_DISK_FULL)}), reported[0].strings);

    ASSERT_TRUE(RemoveLink(DEVICE_LOG_PATH));
    ASSERT_TRUE(CreateDirectoryA(DEVICE_LOG_PATH, nullptr));
    EXPECT_FALSE(theDeviceLog.FlushBacklog());
    EXPECT_TRUE(events.Take().empty()) << "the same episode";
    ASSERT_TRUE(RemoveDirectoryA(DEVICE_LOG_PATH));
    LogDevice("third");
    auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("  first", Ending(lines[0], 7));
    EXPECT_EQ("  second", Ending(lines[1], 8));
    EXPECT_EQ("  third", Ending(lines[2], 7));

    // Written again, the episode is over: the next refusal is news.
    ASSERT_TRUE(DeleteFileA(DEVICE_LOG_PATH));
    ASSERT_TRUE(CreateDirectoryA(DEVICE_LOG_PATH, nullptr));
    LogDevice("fourth");
    reported = events.Take();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ((std::vector<std::string>{DEVICE_LOG_PATH, "5", ErrorText(ERROR_ACCESS_DENIED)}), reported[0].strings);
    ASSERT_TRUE(RemoveDirectoryA(DEVICE_LOG_PATH));
    EXPECT_TRUE(theDeviceLog.FlushBacklog());
}

// A run that ends with lines it cannot write reports them lost at once, and
// the next run's first line says so, without a second report.
TEST_F(DeviceLogTest, LinesGivenUpAtTheEndOfARunAreReportedThenAndLoggedByTheNextRun)
{
    BeginRun();
    SaveLostLines(0);
    ReportRunStarted(0);  // as the start of monitoring does
    ReportedEvents events;
    {
        ScopedFile reader(CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        ASSERT_TRUE(reader);
        LogDevice("one");
        LogDevice("two");
        EndRun(RunEnd::StopRequested, 0, nullptr);
    }
    std::vector<ReportedEvent> reported = events.Take();
    ASSERT_EQ(2u, reported.size());
    EXPECT_EQ(EVENT_LINES_LOST, reported[0].dwId);
    EXPECT_EQ(std::vector<std::string>{"2"}, reported[0].strings);
    EXPECT_EQ(EVENT_MONITORING_STOPPED, reported[1].dwId) << "the run's last event";
    EXPECT_EQ(std::vector<std::string>{"stop requested"}, reported[1].strings);
    EXPECT_EQ(2u, LoadLostLines());
    EXPECT_EQ("", ReadWholeFile(DEVICE_LOG_PATH));

    BeginRun();
    ReportRunStarted(0);
    LogDevice("three");
    const auto lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(2u, lines.size());
    const std::string loss = "  Plugtrail: 2 device log lines lost while the log could not be written";
    EXPECT_EQ(loss, Ending(lines[0], loss.size()));
    EXPECT_EQ("  three", Ending(lines[1], 7));
    for (const ReportedEvent& event : events.Take()) EXPECT_NE(EVENT_LINES_LOST, event.dwId);
    EXPECT_EQ(0u, LoadLostLines());
    EndRun(RunEnd::StopRequested, 0, nullptr);
}

// A count of lines given up that would pass what LostLines holds stays at
// the most, however the run's losses add up.
TEST_F(DeviceLogTest, TheCountOfLinesGivenUpNeverWrapsRound)
{
    EXPECT_EQ(0xFFFFFFFFu, AddCounts(0xFFFFFFF0u, 0x20u));
    OpenRunState();
    SaveLostLines(0xFFFFFFF0u);
    {
        ScopedFile reader(CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
        BeginRun();
        ReportRunStarted(0);
        for (int i = 0; i < 20; ++i) LogDevice("line %d", i);
        EndRun(RunEnd::StopRequested, 0, nullptr);
    }
    EXPECT_EQ(0xFFFFFFFFu, LoadLostLines());
    SaveLostLines(0);
}

// A run that ended in the middle of a line left the file without its line
// end: the next run's first line starts one of its own.
TEST_F(DeviceLogTest, ARunFinishesTheLineAnEarlierRunLeftCutShort)
{
    for (const std::string fragment : {"cut sh", "cut short\r"}) {
        std::ofstream(DEVICE_LOG_PATH, std::ios::binary) << fragment;
        DWORD dwError = 0;
        theDeviceLog.Create(&dwError);  // as a run's start does
        LogDevice("next");
        const auto lines = ReadLines(DEVICE_LOG_PATH);
        ASSERT_EQ(2u, lines.size()) << ReadWholeFile(DEVICE_LOG_PATH);
        EXPECT_EQ(fragment.substr(0, fragment.find('\r')), lines[0]);
        EXPECT_EQ("  next", Ending(lines[1], 6));
    }
}

// A log that cannot be written at start is reported with the start, and the
// first line that then waits is no news.
TEST_F(DeviceLogTest, AFolderInTheLogsPlaceAtStartIsReportedRightAfterTheStart)
{
    ASSERT_TRUE(CreateDirectoryA(DEVICE_LOG_PATH, nullptr));
    ReportedEvents events;
    EXPECT_EQ(DeviceLogState::Folder, BeginRun().logState);
    ReportRunStarted(0);
    LogDevice("waits");
    EndRun(RunEnd::StopRequested, 0, nullptr);
    std::vector<DWORD> ids;
    for (const ReportedEvent& event : events.Take()) {
        if (event.dwId == EVENT_LOG_UNWRITABLE) {
            EXPECT_EQ((std::vector<std::string>{DEVICE_LOG_PATH, "5", ErrorText(ERROR_ACCESS_DENIED)}), event.strings);
        }
        if (event.dwId != EVENT_UNCLEAN_END) ids.push_back(event.dwId);
    }
    EXPECT_EQ((std::vector<DWORD>{EVENT_MONITORING_STARTED, EVENT_LOG_UNWRITABLE, EVENT_LINES_LOST,
                                  EVENT_MONITORING_STOPPED}),
              ids);
    SaveLostLines(0);
}

// A key that someone else made keeps the grants they gave it, until a run
// replaces them with its own.
TEST(RunState, ARunProtectsTheKeyWhoeverMadeIt)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &hKey, nullptr));
    ScopedRegKey key(hKey);
    PSECURITY_DESCRIPTOR pOpen = nullptr;
    ASSERT_TRUE(
        ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;WD)", SDDL_REVISION_1, &pOpen, nullptr));
    ScopedLocalMem open(pOpen);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, pOpen));
    EXPECT_EQ(ERROR_SUCCESS, OpenRunState().lError);
    BYTE sd[512];
    DWORD cb = sizeof sd;
    ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sd, &cb));
    char* pszSddl = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
        sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &pszSddl, nullptr));
    EXPECT_STREQ("O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)", pszSddl);
    LocalFree(pszSddl);
}

// The source's handle dies with the event log service: a failed report is
// tried once more, on a new registration, and then given up.
TEST(EventLog, AFailedReportIsTriedOnceMore)
{
    ReportedEvents events;
    events.FailNext(1);
    ReportLostLines(3);
    EXPECT_EQ(2, events.Attempts());
    EXPECT_EQ(1u, events.Take().size());
    events.FailNext(2);
    ReportLostLines(4);
    EXPECT_EQ(4, events.Attempts());
    EXPECT_TRUE(events.Take().empty());
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

// The backlog is a ring of fixed slots: lines that wait across the end of
// the ring come out in the order they went in, and one beyond its size is
// only counted.
TEST(LogBacklog, KeepsTheOrderAcrossTheEndOfItsRing)
{
    auto backlog = std::make_unique<CLogBacklog>();  // a quarter megabyte: not on the stack
    const auto line = [](size_t i) { return "line " + std::to_string(i) + "\r\n"; };
    size_t next = 0;
    for (; next < LOG_BACKLOG_LINES - 56; ++next) ASSERT_TRUE(backlog->Push(line(next).c_str()));
    for (size_t i = 0; i < LOG_BACKLOG_LINES - 56; ++i) backlog->Pop();
    const size_t first = next;  // the ring's start is now near its end
    for (; next < first + LOG_BACKLOG_LINES; ++next) ASSERT_TRUE(backlog->Push(line(next).c_str()));
    EXPECT_FALSE(backlog->Push("one too many\r\n"));
    EXPECT_EQ(1ul, backlog->Lost());
    for (size_t i = first; i < next; ++i) {
        ASSERT_NE(nullptr, backlog->Front());
        EXPECT_EQ(line(i), backlog->Front());
        backlog->Pop();
    }
    EXPECT_EQ(nullptr, backlog->Front());
    EXPECT_EQ(0u, backlog->Count());
}

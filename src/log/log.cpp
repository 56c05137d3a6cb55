#include "log/log.h"

#include <sddl.h>

#include <cstdarg>

#include "log/event_log.h"
#include "log/log_backlog.h"
#include "log/log_line.h"
#include "util/scoped_handle.h"
#include "util/text.h"

BYTE bTraceToDebugger = 0;
BYTE bTraceToFile = 0;
DWORD dwLastTraceTick = 0;

namespace {

constexpr size_t LOG_MESSAGE_SIZE = 1024;
constexpr size_t DATETIME_SIZE = 64;
constexpr size_t TRACE_PREFIX_SIZE = 64;
constexpr size_t TRACE_MESSAGE_SIZE = 4096;
constexpr size_t TRACE_LINE_SIZE = 4096;

// The system locale's formats, whatever the user has set for himself.
template <size_t N>
void FormatNowDate(char (&dst)[N])
{
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, dst, N) == 0)
        dst[0] = '\0';
}

template <size_t N>
void FormatNowTime(char (&dst)[N])
{
    if (GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, dst, N) == 0)
        dst[0] = '\0';
}

// Owned by Administrators, whoever creates it: an owner may always rewrite
// the permissions. Protected, so that the root folder's grants (Authenticated
// Users may modify new files there) do not reach the audit log. Readers are
// the Event Log Readers group, as a SID: XP has neither the group nor an SDDL
// alias for it, and the entry there grants nothing.
constexpr char LOG_FILE_SDDL[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-32-573)";

// Built at start-up and kept for the life of the process: a line must not
// cost a heap allocation.
SECURITY_ATTRIBUTES saLogFile = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaLogFile = nullptr;

bool IsTransientOpenFailure(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

enum class AppendResult { Written, Busy, Failed };

// One open, write and close. Append access alone puts every write at the end
// of the file, however large it has grown.
AppendResult TryAppend(const char* pszPath, const char* pszText)
{
    ScopedFile file(CreateFileA(pszPath, FILE_APPEND_DATA, FILE_SHARE_READ, psaLogFile, OPEN_ALWAYS, 0, nullptr));
    if (!file) {
        const DWORD dwError = GetLastError();
        return IsTransientOpenFailure(dwError) ? AppendResult::Busy : AppendResult::Failed;
    }
    DWORD dwWritten = 0;
    WriteFile(file.get(), pszText, static_cast<DWORD>(lstrlenA(pszText)), &dwWritten, nullptr);
    return AppendResult::Written;
}

// The trace may wait a moment for a file that another process holds: it is a
// diagnostic, switched off in every shipped build.
constexpr DWORD TRACE_RETRY_TOTAL_MS = 2000;
constexpr DWORD TRACE_RETRY_SLEEP_MS = 50;

void AppendTraceLine(const char* pszLine)
{
    const DWORD dwStart = GetTickCount();
    while (TryAppend(TRACE_LOG_PATH, pszLine) == AppendResult::Busy && GetTickCount() - dwStart < TRACE_RETRY_TOTAL_MS)
        Sleep(TRACE_RETRY_SLEEP_MS);
}

// Lines the device log could not take yet. Explicitly in .bss: with a section
// per datum the toolchain would otherwise store its zeros in the executable.
CLogBacklog backlog __attribute__((section(".bss")));

// Device events append on the window thread, the stop drains on the service
// thread.
class CLogLock {
public:
    CLogLock() { InitializeCriticalSection(&m_cs); }
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};
CLogLock logLock;

class CLogLocked {
public:
    CLogLocked() { logLock.Enter(); }
    ~CLogLocked() { logLock.Leave(); }
    CLogLocked(const CLogLocked&) = delete;
    CLogLocked& operator=(const CLogLocked&) = delete;
};

template <size_t N>
void BuildDatedLine(char (&szLine)[N], const char* pszMessage)
{
    char szDate[DATETIME_SIZE];
    FormatNowDate(szDate);
    char szTime[DATETIME_SIZE];
    FormatNowTime(szTime);
    FormatLine(szLine, "\r\n", "%s - %s  %s", szDate, szTime, pszMessage);
}

// The one line that tells how many lines the backlog could not hold, dated
// when it is written; the Application log gets the same count beside it.
bool WriteLossLine(unsigned long lost)
{
    char szMessage[LOG_MESSAGE_SIZE];
    FormatText(szMessage, "Plugtrail: %lu device log lines lost while the log could not be written", lost);
    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    if (TryAppend(DEVICE_LOG_PATH, szLine) != AppendResult::Written) return false;
    ReportLostLines(lost);
    return true;
}

// Writes the waiting lines, oldest first, then the count of those that did
// not fit. True when nothing waits any more. Under the lock.
bool FlushBacklogLocked()
{
    while (const char* pszLine = backlog.Front()) {
        if (TryAppend(DEVICE_LOG_PATH, pszLine) != AppendResult::Written) return false;
        backlog.Pop();
    }
    if (backlog.Lost() != 0) {
        if (!WriteLossLine(backlog.Lost())) return false;
        backlog.ClearLost();
    }
    return true;
}

// A line waits when the file is held for a moment, and behind any line that
// already waits. A line the file refuses for good (no drive, no access) is
// dropped: no wait would bring it in.
void AppendDeviceLine(const char* pszLine)
{
    CLogLocked locked;
    if (FlushBacklogLocked() && TryAppend(DEVICE_LOG_PATH, pszLine) != AppendResult::Busy) return;
    backlog.Push(pszLine);
}

}  // namespace

void InitLogSecurity()
{
    if (psaLogFile != nullptr) return;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(LOG_FILE_SDDL, SDDL_REVISION_1, &pSd, nullptr)) {
        const DWORD dwError = GetLastError();
        Trace(1, "InitLogSecurity: default security, Error=%lu", dwError);
        return;
    }
    saLogFile.lpSecurityDescriptor = pSd;
    psaLogFile = &saLogFile;
}

SECURITY_ATTRIBUTES* LogFileSecurity()
{
    return psaLogFile;
}

DeviceLogState CreateDeviceLog(DWORD* pdwError)
{
    InitLogSecurity();
    *pdwError = ERROR_SUCCESS;
    {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, psaLogFile, CREATE_NEW, 0, nullptr));
        if (file) return DeviceLogState::Writable;
        *pdwError = GetLastError();
    }
    // A folder of that name gives CREATE_NEW the same answer as a file.
    const DWORD dwAttributes = GetFileAttributesA(DEVICE_LOG_PATH);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Trace(1, "CreateDeviceLog: %s is a folder, no device can be logged", DEVICE_LOG_PATH);
        return DeviceLogState::Folder;
    }
    // An existing log keeps its contents and permissions; whether lines can be
    // added to it is tried without writing one.
    if (*pdwError == ERROR_FILE_EXISTS) {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        *pdwError = file ? ERROR_SUCCESS : GetLastError();
    }
    if (*pdwError == ERROR_SUCCESS || IsTransientOpenFailure(*pdwError)) return DeviceLogState::Writable;
    Trace(1, "CreateDeviceLog: %s cannot be written, Error=%lu", DEVICE_LOG_PATH, *pdwError);
    return *pdwError == ERROR_ACCESS_DENIED ? DeviceLogState::AccessDenied : DeviceLogState::Unwritable;
}

void AppendToFile(const char* pszPath, const char* pszText)
{
    TryAppend(pszPath, pszText);
}

bool DeviceLogBacklogPending()
{
    CLogLocked locked;
    return backlog.Count() != 0 || backlog.Lost() != 0;
}

bool FlushDeviceLogBacklog()
{
    CLogLocked locked;
    return FlushBacklogLocked();
}

bool DrainDeviceLogBacklog(DWORD dwTimeoutMs, void (*pfnProgress)())
{
    const DWORD dwStart = GetTickCount();
    while (!FlushDeviceLogBacklog()) {
        if (GetTickCount() - dwStart >= dwTimeoutMs) {
            CLogLocked locked;
            for (const char* pszLine; (pszLine = backlog.Front()) != nullptr; backlog.Pop())
                Trace(1, "DrainDeviceLogBacklog: not written: %.*s", lstrlenA(pszLine) - 2, pszLine);
            if (backlog.Lost() != 0) Trace(1, "DrainDeviceLogBacklog: %lu more lines lost", backlog.Lost());
            return false;
        }
        if (pfnProgress != nullptr) pfnProgress();
        Sleep(DRAIN_RETRY_MS);
    }
    return true;
}

void LogDevice(const char* pszFormat, ...)
{
    char szMessage[LOG_MESSAGE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szMessage, pszFormat, args);
    va_end(args);
    ReplaceControlChars(szMessage);

    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    AppendDeviceLine(szLine);
}

void Trace(int /*level*/, const char* pszFormat, ...)
{
    const DWORD dwNow = GetTickCount();

    char szPrefix[TRACE_PREFIX_SIZE];
    FormatText(szPrefix, "(%4u): ", static_cast<unsigned>(TraceElapsed(dwNow, dwLastTraceTick)));

    char szMessage[TRACE_MESSAGE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szMessage, pszFormat, args);
    va_end(args);

    char szLine[TRACE_LINE_SIZE];
    if (bTraceToDebugger) {
        if (FormatLine(szLine, "\n", "%s[Plugtrail]  %s", szPrefix, szMessage) > 0)
            OutputDebugStringA(szLine);
    }
    if (bTraceToFile) {
        char szTime[DATETIME_SIZE];
        FormatNowTime(szTime);
        if (FormatLine(szLine, "\r\n", "%s  %s  %s", szTime, szPrefix, szMessage) > 0)
            AppendTraceLine(szLine);
    }
    dwLastTraceTick = dwNow;
}

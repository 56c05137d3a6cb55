#include "log/log.h"

#include <sddl.h>

#include <cstdarg>

#include "log/log_line.h"
#include "util/scoped_handle.h"
#include "util/text.h"

BYTE bTraceToDebugger = 0;
BYTE bTraceToFile = 0;
DWORD dwLastTraceTick = 0;

namespace {

constexpr size_t LOG_MESSAGE_SIZE = 1024;
constexpr size_t LOG_LINE_SIZE = 1024;
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

// Protected, so that the root folder's grants (Authenticated Users may modify
// new files there) do not reach the audit log.
constexpr char LOG_FILE_SDDL[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

// Built at start-up and kept for the life of the process: a line must not
// cost a heap allocation.
SECURITY_ATTRIBUTES saLogFile = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaLogFile = nullptr;

bool IsTransientOpenFailure(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
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

void CreateDeviceLog()
{
    InitLogSecurity();
    ScopedFile file(CreateFileA(DEVICE_LOG_PATH, GENERIC_WRITE, FILE_SHARE_READ, psaLogFile, CREATE_NEW, 0, nullptr));
    if (!file) {
        // An existing log keeps its contents and permissions. Anything else,
        // a folder of that name above all, costs every line of the run.
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_EXISTS)
            Trace(1, "CreateDeviceLog: %s not created, Error=%lu", DEVICE_LOG_PATH, dwError);
    }
}

void AppendToFile(const char* pszPath, const char* pszText)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        ScopedFile file(CreateFileA(pszPath, GENERIC_WRITE, FILE_SHARE_READ, psaLogFile, OPEN_ALWAYS, 0, nullptr));
        if (file) {
            SetFilePointer(file.get(), 0, nullptr, FILE_END);
            DWORD dwWritten = 0;
            WriteFile(file.get(), pszText, static_cast<DWORD>(lstrlenA(pszText)), &dwWritten, nullptr);
            return;
        }
        // A log shipper or editor holding the file for a moment must not cost
        // a line; anything else (no drive, no access) will not get better.
        const DWORD dwError = GetLastError();
        if (!IsTransientOpenFailure(dwError) || GetTickCount() - dwStart >= APPEND_RETRY_TOTAL_MS)
            return;
        Sleep(APPEND_RETRY_SLEEP_MS);
    }
}

void LogDevice(const char* pszFormat, ...)
{
    char szMessage[LOG_MESSAGE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szMessage, pszFormat, args);
    va_end(args);
    ReplaceControlChars(szMessage);

    char szDate[DATETIME_SIZE];
    FormatNowDate(szDate);
    char szTime[DATETIME_SIZE];
    FormatNowTime(szTime);

    char szLine[LOG_LINE_SIZE];
    if (FormatLine(szLine, "\r\n", "%s - %s  %s", szDate, szTime, szMessage) > 0)
        AppendToFile(DEVICE_LOG_PATH, szLine);
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
            AppendToFile(TRACE_LOG_PATH, szLine);
    }
    dwLastTraceTick = dwNow;
}

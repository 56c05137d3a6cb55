#include "log/trace.h"

#include <windows.h>

#include <cstdarg>

#include "log/append_file.h"
#include "log/log_line.h"
#include "log/now_text.h"
#include "util/system_error.h"
#include "util/text.h"

BYTE bTraceToDebugger = 0;
BYTE bTraceToFile = 0;
DWORD dwLastTraceTick = 0;

namespace {

constexpr size_t TRACE_PREFIX_SIZE = 64;
constexpr size_t TRACE_MESSAGE_SIZE = 4096;
constexpr size_t TRACE_LINE_SIZE = 4096;

// The trace may wait a moment for a file that another process holds: it is a
// diagnostic, switched off in every shipped build.
constexpr DWORD TRACE_RETRY_TOTAL_MS = 2000;
constexpr DWORD TRACE_RETRY_SLEEP_MS = 50;

void AppendTraceLine(const char* pszLine)
{
    const DWORD dwStart = GetTickCount();
    while (TryAppend(TRACE_LOG_PATH, pszLine).result == AppendResult::Busy &&
           GetTickCount() - dwStart < TRACE_RETRY_TOTAL_MS)
        Sleep(TRACE_RETRY_SLEEP_MS);
}

}  // namespace

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

void TraceFailure(const char* pszCall, const char* pszObject, unsigned long dwError)
{
    // The system's text costs a lookup: none while the trace writes nothing.
    if (!bTraceToDebugger && !bTraceToFile) return;
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText, ErrorTextEnd::Dropped);
    if (pszObject == nullptr || pszObject[0] == '\0')
        Trace(1, "%s failed, error %lu: %s", pszCall, dwError, szText);
    else
        Trace(1, "%s(%s) failed, error %lu: %s", pszCall, pszObject, dwError, szText);
}

#include "log/log_line.h"

#include "util/text.h"

uint32_t TraceElapsed(uint32_t dwNowTick, uint32_t dwLastTick)
{
    const uint32_t elapsed = dwNowTick - dwLastTick;  // unsigned: absorbs the wrap
    return elapsed > TRACE_ELAPSED_CAP ? TRACE_ELAPSED_CAP : elapsed;
}

void ReplaceControlChars(char* psz)
{
    for (; *psz != '\0'; ++psz) {
        const unsigned char c = static_cast<unsigned char>(*psz);
        if (c < 0x20 || c == 0x7F) *psz = ' ';
    }
}

void FormatConsoleUser(char (&szUser)[CONSOLE_USER_SIZE], const char* pszDomain, const char* pszUser)
{
    szUser[0] = '\0';
    if (pszUser == nullptr || pszUser[0] == '\0') return;
    if (pszDomain != nullptr && pszDomain[0] != '\0') {
        CopyText(szUser, pszDomain);
        AppendText(szUser, "\\");
    }
    AppendText(szUser, pszUser);
}

void FormatRunId(char (&szRun)[RUN_ID_SIZE], const UtcTime& time)
{
    FormatText(szRun, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year % 10000, time.month % 100, time.day % 100,
               time.hour % 100, time.minute % 100, time.second % 100);
}

#include "eventlog/event_text.h"

#include "util/text.h"

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

void FormatUtcTime(char (&szTime)[UTC_TIME_SIZE], const UtcTime& time)
{
    FormatText(szTime, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.year % 10000, time.month % 100, time.day % 100,
               time.hour % 100, time.minute % 100, time.second % 100);
}

void FormatRunId(char (&szRun)[RUN_ID_SIZE], const UtcTime& time)
{
    FormatText(szRun, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", time.year % 10000, time.month % 100, time.day % 100,
               time.hour % 100, time.minute % 100, time.second % 100, time.millisecond % 1000);
}

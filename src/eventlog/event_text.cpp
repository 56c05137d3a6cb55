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

UtcTime UtcTimeFromFileTime(unsigned long long ullTicks)
{
    constexpr unsigned long long TICKS_PER_MS = 10000;
    constexpr unsigned long long MS_PER_DAY = 86400000;
    const unsigned long long ullMs = ullTicks / TICKS_PER_MS;
    const unsigned long msOfDay = static_cast<unsigned long>(ullMs % MS_PER_DAY);
    // Days since 1601-01-01 as days since 0000-03-01, so that a year's leap
    // day comes last; then the civil date of that count.
    const long long days = static_cast<long long>(ullMs / MS_PER_DAY) + 584694;
    const long long era = days / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    const unsigned day = static_cast<unsigned>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const unsigned month = static_cast<unsigned>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const unsigned year = static_cast<unsigned>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day, static_cast<unsigned>(msOfDay / 3600000), static_cast<unsigned>(msOfDay / 60000 % 60),
            static_cast<unsigned>(msOfDay / 1000 % 60), static_cast<unsigned>(msOfDay % 1000)};
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

void FormatKnownDeviceFailure(char (&szText)[KNOWN_DEVICE_FAILURE_SIZE], const char* pszKey, unsigned long ulMax,
                              const char* pszInstanceId, long lError, const char* pszErrorText)
{
    if (lError != 0) {
        FormatText(szText,
                   "%s cannot be recorded as a device this machine has seen, so it gets event 108 again at its "
                   "next attachment: RegSetValueExA(HKLM\\%s) failed, error %ld: %s",
                   pszInstanceId, pszKey, lError, pszErrorText);
    } else if (pszInstanceId != nullptr) {
        FormatText(szText,
                   "The record of devices this machine has seen (HKLM\\%s) is full at %lu devices, so %s is not "
                   "recorded: it and every device first seen from now on get event 108 at every attachment",
                   pszKey, ulMax, pszInstanceId);
    } else {
        FormatText(szText,
                   "The record of devices this machine has seen (HKLM\\%s) is full at %lu devices: every device "
                   "first seen from now on gets event 108 at every attachment",
                   pszKey, ulMax);
    }
}

// The platform-free strings that every event ends with: who was at the
// console, and which run reported it. No platform calls.
#pragma once

#include <cstddef>

// What identifies the user at the console in the Application log's events:
// "DOMAIN\user", the name alone without a domain, empty without a user.
// Room for a domain of 15 characters, the backslash and a user name of 256.
constexpr size_t CONSOLE_USER_SIZE = 273;
void FormatConsoleUser(char (&szUser)[CONSOLE_USER_SIZE], const char* pszDomain, const char* pszUser);

// A moment in UTC, as the system's clock gives it.
struct UtcTime {
    unsigned year, month, day, hour, minute, second, millisecond;
};

// A FILETIME's moment, from its count of 100 ns ticks since 1601-01-01 UTC.
UtcTime UtcTimeFromFileTime(unsigned long long ullTicks);

// A UTC time in ISO 8601 to the second: "YYYY-MM-DDTHH:MM:SSZ".
constexpr size_t UTC_TIME_SIZE = 21;
void FormatUtcTime(char (&szTime)[UTC_TIME_SIZE], const UtcTime& time);

// A run's identity in its events: its start in UTC, to the millisecond, so
// that a quick restart is a run of its own: "YYYY-MM-DDTHH:MM:SS.mmmZ".
constexpr size_t RUN_ID_SIZE = 25;
void FormatRunId(char (&szRun)[RUN_ID_SIZE], const UtcTime& time);

// Event 122's text when a device cannot be recorded as one this machine has
// seen, under the key pszKey: the record holds ulMax devices already (lError
// 0; pszInstanceId null when a run finds it full at its start), or the
// write failed with lError, whose system text is pszErrorText. Says what
// follows: such a device counts as new at every attachment.
constexpr size_t KNOWN_DEVICE_FAILURE_SIZE = 768;
void FormatKnownDeviceFailure(char (&szText)[KNOWN_DEVICE_FAILURE_SIZE], const char* pszKey, unsigned long ulMax,
                              const char* pszInstanceId, long lError, const char* pszErrorText);

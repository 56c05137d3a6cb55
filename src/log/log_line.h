// The platform-free pieces of the log and trace lines.
#pragma once

#include <cstddef>
#include <cstdint>

// Trace prefixes show at most this many milliseconds since the previous line.
constexpr uint32_t TRACE_ELAPSED_CAP = 9999;

// Milliseconds between two tick counts, across a wrap of the 32-bit counter,
// capped for the trace prefix.
uint32_t TraceElapsed(uint32_t dwNowTick, uint32_t dwLastTick);

// Device names come from firmware and drivers. A control character among them
// (below 0x20, or DEL) would let a device split or forge a log line, so each
// becomes a space. Every other byte stays as it is.
void ReplaceControlChars(char* psz);

// What identifies the user at the console in the Application log's events:
// "DOMAIN\user", the name alone without a domain, empty without a user.
// Room for a domain of 15 characters, the backslash and a user name of 256.
constexpr size_t CONSOLE_USER_SIZE = 273;
void FormatConsoleUser(char (&szUser)[CONSOLE_USER_SIZE], const char* pszDomain, const char* pszUser);

// A run's identity in its events: its start in UTC, "YYYY-MM-DDTHH:MM:SSZ".
constexpr size_t RUN_ID_SIZE = 21;
struct UtcTime {
    unsigned year, month, day, hour, minute, second;
};
void FormatRunId(char (&szRun)[RUN_ID_SIZE], const UtcTime& time);

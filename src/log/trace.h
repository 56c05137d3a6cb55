// The diagnostic trace. Kept apart from the log writer so that code without
// platform calls (the device store) can trace without pulling in windows.h.
#pragma once

// On Windows the text is formatted by msvcrt, whose formats ms_printf checks.
#if defined(__MINGW32__) && !defined(__clang__)
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg) __attribute__((format(ms_printf, fmtIndex, firstArg)))
#elif defined(__GNUC__)
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg)
#endif

constexpr char TRACE_LOG_PATH[] = "C:\\_Plugtrail.log";

// Build-time trace switches (bytes, as BYTE is); nothing in the program
// turns them on.
extern unsigned char bTraceToDebugger;
extern unsigned char bTraceToFile;
// Tick count at the previous Trace call, on any thread.
extern unsigned long dwLastTraceTick;

// Writes one diagnostic line to the outputs that are switched on (none by
// default). The level is informative only: every level is handled alike.
void Trace(int level, const char* pszFormat, ...) PLUGTRAIL_PRINTF(2, 3);

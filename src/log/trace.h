// The diagnostic trace. Kept apart from the log writer so that code without
// platform calls (the device store) can trace without pulling in windows.h.
#pragma once

#include "util/printf_format.h"

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

// The one way a failed call is traced: "CALL(OBJECT) failed, error N: the
// system's text", the object left out where the call has none. Registry
// calls hand their LONG result over as the error.
void TraceFailure(const char* pszCall, const char* pszObject, unsigned long dwError);

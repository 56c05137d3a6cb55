// The device log, the trace switches and the file-append routine under both.
#pragma once

#include <windows.h>

#include "log/trace.h"

constexpr char DEVICE_LOG_PATH[] = "C:\\_UsbDevices.log";
constexpr char TRACE_LOG_PATH[] = "C:\\_Plugtrail.log";

// Build-time trace switches; nothing in the program turns them on.
extern BYTE bTraceToDebugger;
extern BYTE bTraceToFile;
// Tick count at the previous Trace call, on any thread.
extern DWORD dwLastTraceTick;

// How long AppendToFile keeps trying while another process holds the file.
constexpr DWORD APPEND_RETRY_TOTAL_MS = 2000;
constexpr DWORD APPEND_RETRY_SLEEP_MS = 50;

// Builds, once, the protection that AppendToFile gives the files it creates:
// full control for SYSTEM and Administrators, read for Users, nothing
// inherited from the folder. Call before other threads start. When it cannot
// be built, files are created with default security.
void InitLogSecurity();
// The attributes new log files get; null until built (default security).
SECURITY_ATTRIBUTES* LogFileSecurity();
// Creates the device log empty and protected unless the name is already
// taken, so that nobody can claim the name before the first device line.
void CreateDeviceLog();

// Appends pszText to the file, creating it with LogFileSecurity if needed.
// Failures are silent.
void AppendToFile(const char* pszPath, const char* pszText);

// Appends one dated line, built printf-style, to the device log.
void LogDevice(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);

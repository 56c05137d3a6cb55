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

// How often the stop's drain tries a held device log again.
constexpr DWORD DRAIN_RETRY_MS = 250;

// Builds, once, the protection that AppendToFile gives the files it creates:
// owner Administrators, full control for SYSTEM and Administrators, read for
// Event Log Readers, nothing inherited from the folder. Call before other
// threads start. When it cannot be built, files are created with default
// security.
void InitLogSecurity();
// The attributes new log files get; null until built (default security).
SECURITY_ATTRIBUTES* LogFileSecurity();

enum class DeviceLogState { Writable, Folder, AccessDenied, Unwritable };
// Creates the device log empty and protected unless the name is already
// taken, so that nobody can claim the name before the first device line.
// Then tells, without writing a line, whether lines can be appended; a file
// held by another process for now counts as writable. Traces any other
// answer; *pdwError gets the error behind it.
DeviceLogState CreateDeviceLog(DWORD* pdwError);

// Appends pszText to the file, creating it with LogFileSecurity if needed.
// One try; failures are silent.
void AppendToFile(const char* pszPath, const char* pszText);

// Appends one dated line, built printf-style, to the device log. While
// another process holds the file, the line waits in memory with older
// waiting lines, and the call returns at once.
void LogDevice(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);

// True while device log lines, or the count of lost ones, wait for the file.
bool DeviceLogBacklogPending();
// Writes what waits, in order; true when nothing waits any more.
bool FlushDeviceLogBacklog();
// Flushes until nothing waits or dwTimeoutMs has passed, calling pfnProgress
// (may be null) before each further wait. Lines still waiting then are
// traced and dropped; false in that case.
bool DrainDeviceLogBacklog(DWORD dwTimeoutMs, void (*pfnProgress)());

// The device log: one dated line per attachment or removal, appended to
// C:\_UsbDevices.log. A line the file does not take, for whatever reason,
// waits in memory behind the others and is tried again; lines beyond what
// memory holds are counted, and the count goes into the log as a line of its
// own once the log takes lines again. No line leaves memory unless it is
// written or counted.
#pragma once

#include <windows.h>

#include "log/trace.h"

constexpr char DEVICE_LOG_PATH[] = "C:\\_UsbDevices.log";

enum class DeviceLogState { Writable, Folder, AccessDenied, Unwritable };
// Creates the device log empty and protected unless the name is already
// taken, so that nobody can claim the name before the first device line.
// Then tells, without writing a line, whether lines can be appended; a file
// held by another process for now counts as writable. Traces any other
// answer; *pdwError gets the error behind it.
DeviceLogState CreateDeviceLog(DWORD* pdwError);

// Appends one dated line, built printf-style, to the device log, or queues
// it behind the lines that wait. Returns at once either way.
void LogDevice(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);

// What the device log has to tell the Application log since it was last
// asked. The log itself reports nothing.
struct DeviceLogNotice {
    DWORD dwLostWritten;       // lost lines whose count the log now holds in a line of its own
    bool bCarriedLossWritten;  // the earlier run's loss line is in the file
    DWORD dwUnwritableError;   // non-zero: the log cannot be written, for this reason
};
DeviceLogNotice TakeDeviceLogNotice();

// An earlier run's count of lines it could not write, reported already: its
// line goes into the log before any other.
void CarryLostLines(DWORD dwCount);

// True while device log lines, or a count of lost ones, wait for the file.
bool DeviceLogBacklogPending();
// Writes what waits, in order; true when nothing waits any more.
bool FlushDeviceLogBacklog();
// Flushes until nothing waits or dwTimeoutMs has passed, calling pfnProgress
// (may be null) before each further wait; true when nothing waits any more.
bool DrainDeviceLogBacklog(DWORD dwTimeoutMs, void (*pfnProgress)());

struct DeviceLogLoss {
    DWORD dwNew;      // this run's: waiting, overflowed and cut-short lines
    DWORD dwCarried;  // the earlier run's count, not written yet
};
// Gives up whatever still waits: each line is traced and dropped, and counted.
DeviceLogLoss DiscardDeviceLogBacklog();

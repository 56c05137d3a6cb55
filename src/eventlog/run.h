// One run of the program, from the start of monitoring to its end, as the
// device log and the Application log record it.
#pragma once

#include <windows.h>

#include "log/device_log.h"

enum class RunEnd { StopRequested, SystemShutdown, WindowClosed };

// At start, before the window and before any event: opens the run state,
// gives the run its identity, and puts a loss that an earlier run left into
// the device log before any other line. A start that is refused is no run
// and does not come here.
void BeginRun();

// Once the devices present at start are known: event 110 with the version
// and their count, then 112 if the run before ended without a stop. From
// then on the device log's notices are reported as they arise.
void ReportRunStarted(DWORD dwPresentDevices);

// Reports one notice of the device log: an unwritable log (event 120), a
// loss line now in the file (event 102 with its count), and clears the saved
// loss of an earlier run once its line is written. The sink a run installs.
void ReportDeviceLogNotice(const DeviceLogNotice& notice);

// At the end, once no device event can come any more: writes what waits
// (for at most dwDrainMs, calling pfnProgress, which may be null, before each
// further wait). What still cannot be written is reported at once as lost,
// and its count is kept for the next run's first line. Then event 111 with
// the reason, and the run is recorded as ended cleanly.
void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)());

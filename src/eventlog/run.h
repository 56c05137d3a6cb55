// One run of the program, from the start of monitoring to its end, as the
// device log and the Application log record it. One run at a time on a
// machine: the service and a debug run exclude each other.
#pragma once

#include <windows.h>

#include "log/device_log.h"

// The name of what a run holds from before it reads the run state until
// its end; valid from XP on, and one for every session. Any user may create
// an object of this name, so only one that SYSTEM or Administrators own
// keeps a run out.
constexpr char RUN_MUTEX_NAME[] = "Global\\Plugtrail.Run";

enum class RunEnd { StopRequested, SystemShutdown, WindowClosed, StartFailed };

// What beginning a run found.
struct RunStart {
    bool bBegun;              // false: another run has the machine's run, and nothing was touched
    DeviceLogState logState;  // whether the device log takes lines
    DWORD dwLogError;         // the error behind a log that does not
};

// Once the run can run, before any event: takes the machine's one run (or
// passes by a mutex of its name that another account holds, to report that
// once the start is), opens the run state, gives the run its identity, makes
// sure of the device log and puts a loss that an earlier run left into it
// before any other line. A run that begins is ended by EndRun.
RunStart BeginRun();
// True from BeginRun until EndRun: the device events of a process whose run
// has not begun touch nothing.
bool RunHasBegun();

// Once the devices present at start are known: event 110 with the version
// and their count, then 112 if the run before ended without a stop, 120 if
// the device log cannot be written, and 122 for a mutex of the run's name
// that another account holds or made, a run state that cannot be kept and a
// record of known devices that is full.
// From then on the device log's notices are reported as they arise.
void ReportRunStarted(DWORD dwPresentDevices);

// Reports one notice of the device log: an unwritable log (event 120), a
// loss line now in the file (event 102 with its count), and clears the saved
// loss of an earlier run once its line is written. The sink a run installs.
void ReportDeviceLogNotice(const DeviceLogNotice& notice);

// The one end of a run that began, once no device event can come any more:
// a run whose start was never reported gets its 110 first. Writes what waits
// (for at most dwDrainMs, calling pfnProgress, which may be null, before each
// further wait). What still cannot be written is reported at once as lost,
// and its count is kept for the next run's first line. Then event 111 with
// the reason, the run is recorded as ended cleanly, nothing more goes to the
// device log, and the machine's run is free again.
void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)());

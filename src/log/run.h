// One run of the program, from the start of monitoring to its end, as the
// device log and the Application log record it.
#pragma once

#include <windows.h>

enum class RunEnd { StopRequested, SystemShutdown, WindowClosed };

// At start, before the window: opens the run state, and puts a loss that an
// earlier run left into the device log before any other line.
void BeginRun();

// At the end, once no device event can come any more: writes what waits
// (for at most dwDrainMs, calling pfnProgress, which may be null, before each
// further wait). What still cannot be written is reported at once as lost,
// and its count is kept for the next run's first line.
void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)());

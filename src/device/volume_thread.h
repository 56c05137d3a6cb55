// The thread that reads volumes and their media. A medium that does not
// answer (a failing stick, a card reader waiting for its card, a disk
// spinning up) holds whoever asks it for as long as the storage stack
// retries; the window's thread must take every device notification at once,
// or the system drops it. So every call that can touch a medium runs here,
// fed by a fixed queue, one change at a time and in the order they came.
#pragma once

#include <windows.h>

#include "device/volume_queue.h"

// Handles one change, on the volume thread.
using VolumeChangeHandler = void (*)(const VolumeRequest& request);
// Looks again at what waits on the volume thread; true while something still
// waits, and it is then called again after VOLUME_RETRY_MS.
using VolumeRetry = bool (*)();
constexpr DWORD VOLUME_RETRY_MS = 500;

// Starts the thread for a run. False, with the error traced, when it cannot
// be started; changes are then not handled. A thread that a medium kept
// from ending is not replaced.
bool StartVolumeThread(VolumeChangeHandler pfnHandle, VolumeRetry pfnRetry);

// Queues a change behind the others and wakes the thread. False when the
// queue is full (or no thread runs): the change is not handled.
bool PostVolumeChange(const VolumeRequest& request);

// Ends the volume work of the run: the thread gets up to dwWaitMs to handle
// what waits, then volume reports are closed, whatever the thread is still
// waiting for. Returns how many changes were left unhandled, and describes
// them (the one in hand first) in szLeft.
constexpr size_t VOLUME_LEFT_TEXT_SIZE = 1024;
size_t EndVolumeThread(DWORD dwWaitMs, char (&szLeft)[VOLUME_LEFT_TEXT_SIZE]);

// Holds volume reports open for the scope it lives in, on the volume
// thread: a report made under it comes before the end of the run's, or not
// at all. Never held across a call that can touch a medium.
class CVolumeReportScope {
public:
    CVolumeReportScope();
    ~CVolumeReportScope();
    CVolumeReportScope(const CVolumeReportScope&) = delete;
    CVolumeReportScope& operator=(const CVolumeReportScope&) = delete;
    // False once the run's end has closed volume reports.
    bool Open() const { return m_bOpen; }

private:
    bool m_bOpen;
};

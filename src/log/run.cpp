#include "log/run.h"

#include "log/device_log.h"
#include "log/event_log.h"
#include "log/log_line.h"
#include "log/run_state.h"
#include "plugtrail_product.h"

namespace {

// What the run before this one left; read at start, reported once the
// start of monitoring is.
PreviousRun previousRun = {"", 0, true};

const char* ReasonText(RunEnd end)
{
    switch (end) {
    case RunEnd::StopRequested:
        return "stop requested";
    case RunEnd::SystemShutdown:
        return "system shutdown";
    case RunEnd::WindowClosed:
        break;
    }
    return "window closed";
}

}  // namespace

void BeginRun()
{
    OpenRunState();
    previousRun = LoadPreviousRun();
    SYSTEMTIME now;
    GetSystemTime(&now);
    char szRun[RUN_ID_SIZE];
    FormatRunId(szRun, {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond});
    SaveRunStart(szRun);
    BeginEventRun(szRun);
    // What writing the earlier loss runs into is reported after the start.
    const DWORD dwCarried = LoadLostLines();
    if (dwCarried == 0) return;
    CarryLostLines(dwCarried);
    FlushDeviceLogBacklog();
}

void ReportRunStarted(DWORD dwPresentDevices)
{
    ReportMonitoringStarted(PLUGTRAIL_VERSION_TEXT, dwPresentDevices);
    if (previousRun.szRun[0] != '\0' && !previousRun.bEndedCleanly)
        ReportUncleanEnd(previousRun.szRun, previousRun.dwLastSequence);
}

void ReportDeviceLogNotices()
{
    const DeviceLogNotice notice = TakeDeviceLogNotice();
    if (notice.dwUnwritableError != ERROR_SUCCESS) ReportLogUnwritable(DEVICE_LOG_PATH, notice.dwUnwritableError);
    if (notice.dwLostWritten != 0) ReportLostLines(notice.dwLostWritten);
    if (notice.bCarriedLossWritten) SaveLostLines(0);
}

void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)())
{
    const bool bDrained = DrainDeviceLogBacklog(dwDrainMs, pfnProgress);
    ReportDeviceLogNotices();
    if (!bDrained) {
        const DeviceLogLoss loss = DiscardDeviceLogBacklog();
        if (loss.dwNew != 0) ReportLostLines(loss.dwNew);
        SaveLostLines(loss.dwNew + loss.dwCarried);
    }
    ReportMonitoringStopped(ReasonText(end));
    SaveCleanEnd();
}

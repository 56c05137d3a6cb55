#include "eventlog/run.h"

#include "eventlog/event_log.h"
#include "eventlog/event_text.h"
#include "eventlog/run_state.h"
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
    BeginEventRun(szRun, SaveLastSequence);
    // What writing the earlier loss runs into is reported after the start.
    const DWORD dwCarried = LoadLostLines();
    if (dwCarried == 0) return;
    theDeviceLog.CarryLostLines(dwCarried);
    theDeviceLog.FlushBacklog();
}

void ReportRunStarted(DWORD dwPresentDevices)
{
    ReportMonitoringStarted(PLUGTRAIL_VERSION_TEXT, dwPresentDevices);
    if (previousRun.szRun[0] != '\0' && !previousRun.bEndedCleanly)
        ReportUncleanEnd(previousRun.szRun, previousRun.dwLastSequence);
    theDeviceLog.SetNoticeSink(ReportDeviceLogNotice);
}

void ReportDeviceLogNotice(const DeviceLogNotice& notice)
{
    if (notice.dwUnwritableError != ERROR_SUCCESS) ReportLogUnwritable(DEVICE_LOG_PATH, notice.dwUnwritableError);
    if (notice.dwLostWritten != 0) ReportLostLines(notice.dwLostWritten);
    if (notice.bCarriedLossWritten) SaveLostLines(0);
}

void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)())
{
    if (!theDeviceLog.DrainBacklog(dwDrainMs, pfnProgress)) {
        const DeviceLogLoss loss = theDeviceLog.DiscardBacklog();
        if (loss.dwNew != 0) ReportLostLines(loss.dwNew);
        SaveLostLines(loss.dwNew + loss.dwCarried);
    }
    ReportMonitoringStopped(ReasonText(end));
    SaveCleanEnd();
}

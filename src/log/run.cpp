#include "log/run.h"

#include "log/device_log.h"
#include "log/device_report.h"
#include "log/event_log.h"
#include "log/run_state.h"

void BeginRun()
{
    OpenRunState();
    const DWORD dwCarried = LoadLostLines();
    if (dwCarried == 0) return;
    CarryLostLines(dwCarried);
    FlushDeviceLogBacklog();
    ReportDeviceLogNotices();
}

void EndRun(RunEnd /*end*/, DWORD dwDrainMs, void (*pfnProgress)())
{
    const bool bDrained = DrainDeviceLogBacklog(dwDrainMs, pfnProgress);
    ReportDeviceLogNotices();
    if (bDrained) return;
    const DeviceLogLoss loss = DiscardDeviceLogBacklog();
    if (loss.dwNew != 0) ReportLostLines(loss.dwNew);
    SaveLostLines(loss.dwNew + loss.dwCarried);
}

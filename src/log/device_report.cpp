#include "log/device_report.h"

#include "log/device_log.h"
#include "log/event_log.h"
#include "log/run_state.h"

void ReportDeviceLogNotices()
{
    const DeviceLogNotice notice = TakeDeviceLogNotice();
    if (notice.dwUnwritableError != ERROR_SUCCESS) ReportLogUnwritable(DEVICE_LOG_PATH, notice.dwUnwritableError);
    if (notice.dwLostWritten != 0) ReportLostLines(notice.dwLostWritten);
    if (notice.bCarriedLossWritten) SaveLostLines(0);
}

#include "eventlog/run.h"

#include <sddl.h>

#include "eventlog/event_log.h"
#include "eventlog/event_text.h"
#include "eventlog/known_devices.h"
#include "eventlog/run_state.h"
#include "log/log_line.h"
#include "log/trace.h"
#include "plugtrail_product.h"
#include "util/scoped_handle.h"
#include "util/system_error.h"
#include "util/text.h"

namespace {

constexpr size_t STATE_FAILURE_TEXT_SIZE = 512;
// Only SYSTEM and Administrators may open it, so nobody else can hold a run
// off by holding it.
constexpr char RUN_MUTEX_SDDL[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// What the run before this one left; read at start, reported once the
// start of monitoring is.
PreviousRun previousRun = {"", 0, true};
// The machine's one run, while this process has it.
HANDLE hRunMutex = nullptr;
bool bStartReported = false;
// The run state's first failure in a run is reported, once; one before the
// start of monitoring waits for its report. The flag is set by whichever
// thread meets a failure first.
volatile LONG lStateFailureNoted = 0;
RunStateResult pendingFailure = {ERROR_SUCCESS, nullptr, nullptr};

const char* ReasonText(RunEnd end)
{
    switch (end) {
    case RunEnd::StopRequested:
        return "stop requested";
    case RunEnd::SystemShutdown:
        return "system shutdown";
    case RunEnd::StartFailed:
        return "start failed";
    case RunEnd::WindowClosed:
        break;
    }
    return "window closed";
}

bool TakeRunMutex()
{
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(RUN_MUTEX_SDDL, SDDL_REVISION_1, &pSd, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", RUN_MUTEX_SDDL, dwError);
    }
    ScopedLocalMem sd(pSd);
    SECURITY_ATTRIBUTES sa = {sizeof sa, pSd, FALSE};
    HANDLE hMutex = CreateMutexA(&sa, FALSE, RUN_MUTEX_NAME);
    if (hMutex == nullptr) {
        // Made by a run whose protection keeps this process out.
        const DWORD dwError = GetLastError();
        TraceFailure("CreateMutexA", RUN_MUTEX_NAME, dwError);
        return false;
    }
    // An abandoned one was a run that crashed: its successor may go on.
    const DWORD dwWait = WaitForSingleObject(hMutex, 0);
    if (dwWait != WAIT_OBJECT_0 && dwWait != WAIT_ABANDONED) {
        Trace(1, "%s is held by another run", RUN_MUTEX_NAME);
        CloseHandle(hMutex);
        return false;
    }
    hRunMutex = hMutex;
    return true;
}

void ReleaseRunMutex()
{
    if (hRunMutex == nullptr) return;
    ReleaseMutex(hRunMutex);
    CloseHandle(hRunMutex);
    hRunMutex = nullptr;
}

void ReportStateFailure(const RunStateResult& failure)
{
    char szError[ERROR_TEXT_SIZE];
    SystemErrorText(static_cast<DWORD>(failure.lError), szError, ErrorTextEnd::Dropped);
    char szText[STATE_FAILURE_TEXT_SIZE];
    FormatText(szText,
               "The run state cannot be kept, so the next run may not tell whether this one ended cleanly: "
               "%s(HKLM\\%s%s%s) failed, error %ld: %s",
               failure.pszCall, RUN_STATE_KEY, failure.pszValue != nullptr ? ", " : "",
               failure.pszValue != nullptr ? failure.pszValue : "", failure.lError, szError);
    ReportServiceError(szText);
}

// Every step on the run state is checked here.
void Check(const RunStateResult& result)
{
    if (result.lError == ERROR_SUCCESS || InterlockedExchange(&lStateFailureNoted, 1) != 0) return;
    if (!bStartReported) {
        pendingFailure = result;
        return;
    }
    ReportStateFailure(result);
}

// Told of every event's sequence number, under the reporter's lock. A
// failure's own report comes back here once more, and is let pass.
void SaveSequence(DWORD dwSequence)
{
    Check(SaveLastSequence(dwSequence));
}

}  // namespace

RunStart BeginRun()
{
    RunStart start = {false, DeviceLogState::Writable, ERROR_SUCCESS};
    if (!TakeRunMutex()) return start;
    start.bBegun = true;
    bStartReported = false;
    InterlockedExchange(&lStateFailureNoted, 0);
    pendingFailure = {ERROR_SUCCESS, nullptr, nullptr};
    // This run's notices go out once its start is reported.
    theDeviceLog.SetNoticeSink(nullptr);

    Check(OpenRunState());
    Check(OpenKnownDevices());
    previousRun = LoadPreviousRun();
    SYSTEMTIME now;
    GetSystemTime(&now);
    char szRun[RUN_ID_SIZE];
    FormatRunId(szRun, {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds});
    Check(SaveRunStart(szRun));
    BeginEventRun(szRun, SaveSequence);

    start.logState = theDeviceLog.Create(&start.dwLogError);
    // What writing the earlier loss runs into is reported after the start.
    const DWORD dwCarried = LoadLostLines();
    if (dwCarried != 0) {
        theDeviceLog.CarryLostLines(dwCarried);
        theDeviceLog.FlushBacklog();
    }
    return start;
}

bool RunHasBegun()
{
    return hRunMutex != nullptr;
}

void ReportRunStarted(DWORD dwPresentDevices)
{
    ReportMonitoringStarted(PLUGTRAIL_VERSION_TEXT, dwPresentDevices);
    if (previousRun.szRun[0] != '\0' && !previousRun.bEndedCleanly)
        ReportUncleanEnd(previousRun.szRun, previousRun.dwLastSequence);
    bStartReported = true;
    theDeviceLog.SetNoticeSink(ReportDeviceLogNotice);
    if (pendingFailure.lError != ERROR_SUCCESS) {
        ReportStateFailure(pendingFailure);
        pendingFailure = {ERROR_SUCCESS, nullptr, nullptr};
    }
    ReportKnownDevicesFull();
}

void ReportDeviceLogNotice(const DeviceLogNotice& notice)
{
    if (notice.dwUnwritableError != ERROR_SUCCESS) ReportLogUnwritable(DEVICE_LOG_PATH, notice.dwUnwritableError);
    if (notice.dwLostWritten != 0) ReportLostLines(notice.dwLostWritten);
    if (notice.bCarriedLossWritten) Check(SaveLostLines(0));
}

void EndRun(RunEnd end, DWORD dwDrainMs, void (*pfnProgress)())
{
    if (!bStartReported) ReportRunStarted(0);
    if (!theDeviceLog.DrainBacklog(dwDrainMs, pfnProgress)) {
        const DeviceLogLoss loss = theDeviceLog.DiscardBacklog();
        if (loss.dwNew != 0) ReportLostLines(loss.dwNew);
        Check(SaveLostLines(AddCounts(loss.dwNew, loss.dwCarried)));
    }
    ReportMonitoringStopped(ReasonText(end));
    Check(SaveCleanEnd());
    theDeviceLog.Close();
    ReleaseRunMutex();
}

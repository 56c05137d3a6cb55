#include "eventlog/run.h"

#include <aclapi.h>
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
// Only SYSTEM and Administrators may take it, and it is theirs: a run meets
// it held by another run only where its owner is one of them. Anyone may read
// who owns it, so that no start mistakes another run's for a stranger's.
constexpr char RUN_MUTEX_SDDL[] = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;WD)";
// For a start whose token may not name Administrators as an owner.
constexpr char RUN_MUTEX_UNOWNED_SDDL[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;WD)";
constexpr size_t ACCOUNT_PART_SIZE = 256;
constexpr size_t OWNER_TEXT_SIZE = 2 * ACCOUNT_PART_SIZE + 200;  // "DOMAIN\name (SID)"
constexpr size_t CLAIM_PROBLEM_SIZE = 1024;

// What the run before this one left; read at start, reported once the
// start of monitoring is.
PreviousRun previousRun = {"", 0, true};
// The machine's one run, while this process holds it.
HANDLE hRunMutex = nullptr;
// From BeginRun to EndRun; a run may go on without holding the mutex.
bool bRunBegun = false;
bool bStartReported = false;
// The run state's first failure in a run is reported, once; one before the
// start of monitoring waits for its report. The flag is set by whichever
// thread meets a failure first.
volatile LONG lStateFailureNoted = 0;
RunStateResult pendingFailure = {ERROR_SUCCESS, nullptr, nullptr};
// What this run found of the mutex that another account holds or made,
// reported once its start is; empty for none.
char szClaimProblem[CLAIM_PROBLEM_SIZE] = "";

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

// Creates the mutex with the protection pszSddl gives, or opens it where it
// exists already (*pbExisted); null, with *pdwError, where neither can be done.
HANDLE CreateRunMutex(const char* pszSddl, bool* pbExisted, DWORD* pdwError)
{
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1, &pSd, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", pszSddl, dwError);
    }
    ScopedLocalMem sd(pSd);
    SECURITY_ATTRIBUTES sa = {sizeof sa, pSd, FALSE};
    HANDLE hMutex = CreateMutexA(&sa, FALSE, RUN_MUTEX_NAME);
    *pdwError = GetLastError();
    *pbExisted = hMutex != nullptr && *pdwError == ERROR_ALREADY_EXISTS;
    return hMutex;
}

// Names the owner of the object behind hObject: its account and SID, or the
// SID alone where it names no account. *pbRunOwner tells whether it is SYSTEM
// or Administrators, the owners of a run's mutex. False, with the error, when
// the owner cannot be read.
bool ReadOwner(HANDLE hObject, char (&szOwner)[OWNER_TEXT_SIZE], bool* pbRunOwner, DWORD* pdwError)
{
    PSID pOwner = nullptr;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    *pdwError = GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                                nullptr, &pSd);
    ScopedLocalMem sd(pSd);
    if (*pdwError != ERROR_SUCCESS) return false;
    // Windows gives every object an owner; Wine leaves one made without.
    if (pOwner == nullptr) {
        CopyText(szOwner, "no account");
        *pbRunOwner = false;
        return true;
    }
    *pbRunOwner = IsWellKnownSid(pOwner, WinLocalSystemSid) || IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid);
    char* pszSid = nullptr;
    if (!ConvertSidToStringSidA(pOwner, &pszSid)) pszSid = nullptr;
    ScopedLocalMem sid(pszSid);
    char szName[ACCOUNT_PART_SIZE];
    char szDomain[ACCOUNT_PART_SIZE];
    DWORD cchName = ACCOUNT_PART_SIZE;
    DWORD cchDomain = ACCOUNT_PART_SIZE;
    SID_NAME_USE use;
    if (LookupAccountSidA(nullptr, pOwner, szName, &cchName, szDomain, &cchDomain, &use)) {
        FormatText(szOwner, "%s%s%s (%s)", szDomain, szDomain[0] != '\0' ? "\\" : "", szName,
                   pszSid != nullptr ? pszSid : "");
    } else {
        CopyText(szOwner, pszSid != nullptr ? pszSid : "an account that cannot be named");
    }
    return true;
}

// Takes the machine's one run. False when another run has it: the mutex
// exists, held, and SYSTEM or Administrators own it. Any other owner, or one
// that cannot be read, is a stranger's: a program that took the name to hold
// monitoring off, which the run does not let it do. It goes on, and says
// so (szClaimProblem).
bool ClaimRun()
{
    bool bExisted = false;
    DWORD dwError = ERROR_SUCCESS;
    ScopedKernelHandle mutex(CreateRunMutex(RUN_MUTEX_SDDL, &bExisted, &dwError));
    if (!mutex && dwError == ERROR_INVALID_OWNER)
        mutex.reset(CreateRunMutex(RUN_MUTEX_UNOWNED_SDDL, &bExisted, &dwError));
    // An abandoned mutex was a run that crashed: its successor may go on.
    bool bHeld = false;
    if (mutex) {
        const DWORD dwWait = WaitForSingleObject(mutex.get(), 0);
        bHeld = dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED;
    }
    if (mutex && !bExisted && bHeld) {
        hRunMutex = mutex.release();  // released and closed by EndRun
        return true;
    }

    const char* pszCall = "CreateMutexA";
    ScopedKernelHandle readable;
    if (!mutex) {
        TraceFailure(pszCall, RUN_MUTEX_NAME, dwError);
        pszCall = "OpenMutexA";
        readable.reset(OpenMutexA(READ_CONTROL, FALSE, RUN_MUTEX_NAME));
        if (!readable) dwError = GetLastError();
    }
    const HANDLE hReadable = mutex ? mutex.get() : readable.get();
    char szOwner[OWNER_TEXT_SIZE];
    bool bRunOwner = false;
    if (hReadable != nullptr) {
        pszCall = "GetSecurityInfo";
        if (ReadOwner(hReadable, szOwner, &bRunOwner, &dwError)) pszCall = nullptr;
    }
    if (bRunOwner && !bHeld) {
        Trace(1, "%s is held by another run", RUN_MUTEX_NAME);
        return false;
    }
    if (bHeld) hRunMutex = mutex.release();
    if (bRunOwner) return true;

    if (pszCall != nullptr) {
        char szError[ERROR_TEXT_SIZE];
        SystemErrorText(dwError, szError, ErrorTextEnd::Dropped);
        FormatText(szClaimProblem,
                   "%s exists, but its owner cannot be read: %s failed, error %lu: %s. Taken for a program's that "
                   "would hold monitoring off, it is passed by: this run goes on, and another may go on beside it",
                   RUN_MUTEX_NAME, pszCall, dwError, szError);
    } else if (!bHeld) {
        FormatText(szClaimProblem,
                   "%s is held by a program of %s, not of SYSTEM or Administrators as a run's is. It is passed by: "
                   "this run goes on, and another may go on beside it",
                   RUN_MUTEX_NAME, szOwner);
    } else {
        FormatText(szClaimProblem,
                   "%s was made by a program of %s, not of SYSTEM or Administrators as a run's is. This run holds "
                   "it; a later run that finds that program holding it goes on beside it",
                   RUN_MUTEX_NAME, szOwner);
    }
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
    szClaimProblem[0] = '\0';
    if (!ClaimRun()) return start;
    start.bBegun = true;
    bRunBegun = true;
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
    return bRunBegun;
}

void ReportRunStarted(DWORD dwPresentDevices)
{
    ReportMonitoringStarted(PLUGTRAIL_VERSION_TEXT, dwPresentDevices);
    if (previousRun.szRun[0] != '\0' && !previousRun.bEndedCleanly)
        ReportUncleanEnd(previousRun.szRun, previousRun.dwLastSequence);
    bStartReported = true;
    theDeviceLog.SetNoticeSink(ReportDeviceLogNotice);
    if (szClaimProblem[0] != '\0') ReportServiceError(szClaimProblem);
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
    bRunBegun = false;
}

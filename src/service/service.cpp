#include "service/service.h"

#include "log/log.h"
#include "util/text.h"

CService theService;

namespace {

// Device log lines still waiting for a held file get this long to be written
// before the service reports itself stopped.
constexpr DWORD STOP_DRAIN_MS = 5000;
constexpr DWORD STOP_DRAIN_WAIT_HINT_MS = 2000;

void ReportStopProgress()
{
    ++theService.status.dwCheckPoint;
    theService.status.dwWaitHint = STOP_DRAIN_WAIT_HINT_MS;
    theService.SetStatus(SERVICE_STOP_PENDING);
}

}  // namespace

CService::CService()
    : szServiceName(),
      szDisplayName(),
      hServiceStatus(nullptr),
      status(),
      bService(0),
      dwThreadId(0),
      hwnd(nullptr),
      lStopRequested(0)
{
}

CService::~CService() {}

void CService::Init(const char* pszServiceName, const char* pszDisplayName)
{
    CopyText(szServiceName, pszServiceName);
    CopyText(szDisplayName, pszDisplayName);
    hServiceStatus = nullptr;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    status.dwWin32ExitCode = 0;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
}

void CService::LogEvent(const char* /*pszFormat*/, ...) {}

void CService::Start()
{
    Trace(3, "CService::Start");
    SERVICE_TABLE_ENTRYA dispatchTable[] = {
        {szServiceName, ServiceMainEntry},
        {nullptr, nullptr},
    };
    Trace(1, "calling StartServiceCtrlDispatcher");
    const BOOL bResult = StartServiceCtrlDispatcherA(dispatchTable);
    const DWORD dwError = GetLastError();
    Trace(1, "returned from StartServiceCtrlDispatcher res=%i", bResult);
    if (bResult || !bService) return;
    LogEvent("StartServiceCtrlDispatcher Error=%d", static_cast<int>(dwError));
    Trace(1, "StartServiceCtrlDispatcher Error=%i", static_cast<int>(dwError));
    bService = 0;
}

void CService::ServiceMain()
{
    Trace(3, "CService::ServiceMain");
    hServiceStatus = RegisterServiceCtrlHandlerA(szServiceName, HandlerEntry);
    if (hServiceStatus == nullptr) {
        LogEvent("RegisterServiceCtrlHandler failed");
        return;
    }
    SetStatus(SERVICE_START_PENDING);
    status.dwWin32ExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    Trace(3, "calling Run now");
    Run();
    Trace(3, "Run returned");
    DrainDeviceLogBacklog(STOP_DRAIN_MS, ReportStopProgress);
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
    SetStatus(SERVICE_STOPPED);
}

void CService::SetStatus(DWORD dwState)
{
    // No control while starting: until Run reports RUNNING there is no
    // message queue that a stop could reach.
    status.dwControlsAccepted = dwState == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    status.dwCurrentState = dwState;
    SetServiceStatus(hServiceStatus, &status);
}

bool CService::StopRequested() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&lStopRequested), 0, 0) != 0;
}

void CService::Run()
{
    Trace(3, "CService::Run");
    // The queue exists before anyone learns the thread's id: a WM_QUIT posted
    // to a thread without one is lost.
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    dwThreadId = GetCurrentThreadId();
    if (bService) {
        SetStatus(SERVICE_RUNNING);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        // Pin the working set small: the service idles for months.
        SetProcessWorkingSetSize(GetCurrentProcess(), 0x80000, 0x80000);
    }
    Trace(3, "CService::Run -> enter ServiceMsgLoop");
    PumpUntilQuit(bService != 0);
    // The system may give this thread's id to another thread once it ends.
    dwThreadId = 0;
    Trace(3, "CService::Run -> after ServiceMsgLoop");
}

void CService::Handler(DWORD dwControl)
{
    if (dwControl != SERVICE_CONTROL_STOP) return;
    Trace(1, "SERVICE_CONTROL_STOP");
    InterlockedExchange(&lStopRequested, 1);
    SetStatus(SERVICE_STOP_PENDING);
    PostThreadMessageA(dwThreadId, WM_QUIT, 0, 0);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
}

void PumpUntilQuit(bool bOnlyAfterStop)
{
    MSG msg;
    for (;;) {
        const BOOL bResult = GetMessageA(&msg, nullptr, 0, 0);
        if (bResult < 0) return;
        if (bResult > 0) {
            DispatchMessageA(&msg);
            continue;
        }
        // Any program may post WM_QUIT to a thread; only the SCM's stop counts.
        if (!bOnlyAfterStop || theService.StopRequested()) return;
    }
}

void WINAPI CService::ServiceMainEntry(DWORD /*dwArgc*/, LPSTR* /*lpszArgv*/)
{
    theService.ServiceMain();
}

void WINAPI CService::HandlerEntry(DWORD dwControl)
{
    theService.Handler(dwControl);
}

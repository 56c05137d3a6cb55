#include "service/service.h"

#include <cstdarg>

#include "eventlog/event_log.h"
#include "eventlog/run.h"
#include "log/trace.h"
#include "service/service_status.h"
#include "util/text.h"

CService theService;
SetServiceStatusFunction pfnSetServiceStatus = SetServiceStatus;

namespace {

// Device log lines still waiting for the file get this long to be written
// before the service reports itself stopped. At shutdown Windows allows a
// service about 20 s (XP) and, after preshutdown, 10 s (Windows 10 1703 on;
// three minutes before): the window's close, the drain and the events after
// it fit either.
constexpr DWORD STOP_DRAIN_MS = 5000;
constexpr DWORD STOP_DRAIN_WAIT_HINT_MS = 2000;
// The first STOP_PENDING covers the whole end, so that whoever waits for the
// stop paces its polling by it.
constexpr DWORD STOP_WAIT_HINT_MS = WINDOW_CLOSE_MS + STOP_DRAIN_MS + STOP_DRAIN_WAIT_HINT_MS;
// How long the start waits for the window to begin monitoring, twice at
// most: once for its answer, and once more if the window was already
// beginning when the first wait ran out. Its work touches no medium, so only
// a window thread that something else holds takes that long.
constexpr DWORD WINDOW_START_MS = 15000;
constexpr DWORD START_WAIT_HINT_MS = WINDOW_START_MS + 5000;
constexpr size_t LOG_EVENT_TEXT_SIZE = 512;

// The start's handshake: the service asks, the window takes the request
// and answers it, unless the service has given up waiting first.
constexpr LONG START_ASKED = 1;
constexpr LONG START_TAKEN = 2;
constexpr LONG START_MONITORING = 3;
constexpr LONG START_REFUSED = 4;
constexpr LONG START_ABANDONED = 5;

// Vista's control codes; the headers define them only for Vista builds.
constexpr DWORD CONTROL_PRESHUTDOWN = 0x0000000F;
constexpr DWORD ACCEPT_PRESHUTDOWN = 0x00000100;

static_assert(SERVICE_STATE_STOPPED == SERVICE_STOPPED && SERVICE_STATE_START_PENDING == SERVICE_START_PENDING &&
                  SERVICE_STATE_STOP_PENDING == SERVICE_STOP_PENDING && SERVICE_STATE_RUNNING == SERVICE_RUNNING,
              "the order of states speaks the SCM's numbers");

bool IsEndingControl(DWORD dwControl)
{
    return dwControl == SERVICE_CONTROL_STOP || dwControl == SERVICE_CONTROL_SHUTDOWN ||
           dwControl == CONTROL_PRESHUTDOWN;
}

DWORD RunControls()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    const bool bVista = GetVersionExA(&version) && version.dwMajorVersion >= 6;
    return SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | (bVista ? ACCEPT_PRESHUTDOWN : 0);
}

void ReportStopProgress()
{
    theService.SetStatus(SERVICE_STOP_PENDING, STOP_DRAIN_WAIT_HINT_MS);
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
      lEndingControl(0),
      dwFailureExitCode(0),
      dwRunControls(SERVICE_ACCEPT_STOP),
      m_dwReportedState(SERVICE_STATE_NONE),
      m_lStart(0),
      m_hStartAnswered(nullptr)
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
    dwRunControls = RunControls();
    CLocked locked(m_statusLock);
    m_dwReportedState = SERVICE_STATE_NONE;
}

void CService::LogEvent(const char* pszFormat, ...)
{
    char szText[LOG_EVENT_TEXT_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szText, pszFormat, args);
    va_end(args);
    ReportServiceError(szText);
}

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
    hServiceStatus = RegisterServiceCtrlHandlerExA(szServiceName, HandlerEntry, nullptr);
    if (hServiceStatus == nullptr) {
        LogEvent("RegisterServiceCtrlHandler failed");
        return;
    }
    SetStatus(SERVICE_START_PENDING, START_WAIT_HINT_MS);
    // The run begins once the dispatcher has connected: a process that it
    // refuses, or that finds another run going, touches nothing.
    if (!BeginRun().bBegun) {
        LogEvent("Another Plugtrail run is going on this machine (%s is held): the service stops, and its "
                 "recovery starts it again later",
                 RUN_MUTEX_NAME);
        StopWithFailure(EVENT_SERVICE_ERROR);
        return;
    }
    const StartAnswer answer = AskWindowToBegin();
    if (answer != StartAnswer::Monitoring) {
        if (answer == StartAnswer::None)
            LogEvent("The notification window did not begin monitoring within %lu seconds: the service stops, and "
                     "its recovery starts it again later",
                     WINDOW_START_MS / 1000);
        EndRun(RunEnd::StartFailed, STOP_DRAIN_MS, ReportStopProgress);
        StopWithFailure(answer == StartAnswer::Refused ? EVENT_NOTIFICATIONS_FAILED : EVENT_SERVICE_ERROR);
        return;
    }
    Trace(3, "calling Run now");
    Run();
    Trace(3, "Run returned");
    // The window has handled its last message: no device event can come now.
    EndRun(StopControl() == SERVICE_CONTROL_STOP ? RunEnd::StopRequested : RunEnd::SystemShutdown, STOP_DRAIN_MS,
           ReportStopProgress);
    SetStatus(SERVICE_STOPPED);
}

CService::StartAnswer CService::AskWindowToBegin()
{
    if (m_hStartAnswered == nullptr) m_hStartAnswered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hStartAnswered == nullptr) {
        const DWORD dwError = GetLastError();
        TraceFailure("CreateEventA", "start", dwError);
        return StartAnswer::None;
    }
    ResetEvent(m_hStartAnswered);
    InterlockedExchange(&m_lStart, START_ASKED);
    if (!PostMessageA(hwnd, WM_BEGIN_MONITORING, 0, 0)) {
        const DWORD dwError = GetLastError();
        TraceFailure("PostMessageA", "WM_BEGIN_MONITORING", dwError);
        return StartAnswer::None;
    }
    if (WaitForSingleObject(m_hStartAnswered, WINDOW_START_MS) != WAIT_OBJECT_0) {
        // Too late for a window that has not taken the request; one that is
        // beginning gets one more wait.
        if (InterlockedCompareExchange(&m_lStart, START_ABANDONED, START_ASKED) == START_ASKED)
            return StartAnswer::None;
        SetStatus(SERVICE_START_PENDING, START_WAIT_HINT_MS);
        WaitForSingleObject(m_hStartAnswered, WINDOW_START_MS);
    }
    switch (InterlockedCompareExchange(&m_lStart, 0, 0)) {
    case START_MONITORING:
        return StartAnswer::Monitoring;
    case START_REFUSED:
        return StartAnswer::Refused;
    default:
        return StartAnswer::None;
    }
}

bool CService::TakeStart()
{
    return InterlockedCompareExchange(&m_lStart, START_TAKEN, START_ASKED) == START_ASKED;
}

void CService::AnswerStart(bool bMonitoring)
{
    InterlockedExchange(&m_lStart, bMonitoring ? START_MONITORING : START_REFUSED);
    if (m_hStartAnswered != nullptr) SetEvent(m_hStartAnswered);
}

void CService::StopWithFailure(DWORD dwCode)
{
    {
        CLocked locked(m_statusLock);
        dwFailureExitCode = dwCode;
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = dwCode;
    }
    SetStatus(SERVICE_STOPPED);
}

void CService::SetStatus(DWORD dwState, DWORD dwWaitHint)
{
    CLocked locked(m_statusLock);
    if (!StatusMayFollow(m_dwReportedState, dwState)) {
        Trace(1, "state %lu not reported after %lu", dwState, m_dwReportedState);
        return;
    }
    status.dwCheckPoint = NextCheckPoint(m_dwReportedState, status.dwCheckPoint, dwState);
    status.dwWaitHint = status.dwCheckPoint != 0 ? dwWaitHint : 0;
    // No control while starting: until Run reports RUNNING there is no
    // message queue that a stop could reach.
    status.dwControlsAccepted = dwState == SERVICE_START_PENDING ? 0 : dwRunControls;
    status.dwCurrentState = dwState;
    m_dwReportedState = dwState;
    // Under the lock: the SCM hears the states in the order they were decided.
    pfnSetServiceStatus(hServiceStatus, &status);
}

bool CService::StopRequested() const
{
    return StopControl() != 0;
}

DWORD CService::StopControl() const
{
    return static_cast<DWORD>(InterlockedCompareExchange(const_cast<volatile LONG*>(&lEndingControl), 0, 0));
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
    if (!IsEndingControl(dwControl)) return;
    Trace(1, dwControl == SERVICE_CONTROL_STOP       ? "SERVICE_CONTROL_STOP"
             : dwControl == SERVICE_CONTROL_SHUTDOWN ? "SERVICE_CONTROL_SHUTDOWN"
                                                     : "SERVICE_CONTROL_PRESHUTDOWN");
    InterlockedCompareExchange(&lEndingControl, static_cast<LONG>(dwControl), 0);
    SetStatus(SERVICE_STOP_PENDING, STOP_WAIT_HINT_MS);
    // The window ends the run: its thread posts Run's WM_QUIT once it has
    // handled the messages before this one, so no device event is still being
    // handled when the drain starts. Only a window that is gone already
    // leaves that to this thread.
    if (!PostMessageA(hwnd, WM_CLOSE, 0, 0)) PostThreadMessageA(dwThreadId, WM_QUIT, 0, 0);
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

DWORD WINAPI CService::HandlerEntry(DWORD dwControl, DWORD /*dwEventType*/, LPVOID /*lpEventData*/,
                                    LPVOID /*lpContext*/)
{
    if (dwControl == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
    if (!IsEndingControl(dwControl)) return ERROR_CALL_NOT_IMPLEMENTED;
    theService.Handler(dwControl);
    return NO_ERROR;
}

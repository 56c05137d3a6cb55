// The program's dealings with the service control manager: running as a
// service, reporting its state, and installing and removing itself.
#pragma once

#include <windows.h>

#include <cstddef>

#include "util/critical_section.h"
#include "util/printf_format.h"

constexpr size_t SERVICE_NAME_SIZE = 256;

// Posted by the service's run, once it has begun, to the notification
// window: register for device notifications and report the start of
// monitoring. The window answers through TakeStart and AnswerStart.
constexpr UINT WM_BEGIN_MONITORING = WM_APP + 1;

// How long the window may take to close at the end of a run: the volume
// thread's last reports. A medium that holds that thread longer is given up,
// so that a stop ends within the wait hint the service reports.
constexpr DWORD WINDOW_CLOSE_MS = 2000;

class CService {
public:
    CService();
    virtual ~CService();

    void Init(const char* pszServiceName, const char* pszDisplayName);
    // Hands the calling thread to the service control dispatcher until the
    // service has stopped; returns at once outside the SCM.
    void Start();
    void ServiceMain();
    // The message loop, until WM_QUIT reaches this thread.
    void Run();
    // Every state reaches the SCM through this, one report at a time and in
    // order: a state that would go back (STOP_PENDING after STOPPED, say) is
    // not reported. A pending state carries dwWaitHint and a check point one
    // higher than its last report's.
    void SetStatus(DWORD dwState, DWORD dwWaitHint = 0);
    // Reports SERVICE_STOPPED with dwCode as the service-specific exit code,
    // which the SCM counts as a failure and answers with its recovery.
    void StopWithFailure(DWORD dwCode);
    // Stop, shutdown and preshutdown all end the service the same way.
    void Handler(DWORD dwControl);
    // True once the SCM has asked the service to stop, or told it that the
    // system shuts down. Until then, in a service run, nothing else may end
    // it: its window and threads can be reached by other programs.
    bool StopRequested() const;
    // The control that ended the service: stop, shutdown or preshutdown; 0
    // while none came.
    DWORD StopControl() const;
    // Asks the window to begin monitoring and waits for its answer, for a
    // bounded time.
    enum class StartAnswer { Monitoring, Refused, None };
    StartAnswer AskWindowToBegin();
    // The window's side of the start: true when the service still waits for
    // its answer (a window asked too late begins nothing), then the answer.
    bool TakeStart();
    void AnswerStart(bool bMonitoring);
    // Reports the formatted text as an error of the service in the
    // Application log.
    void LogEvent(const char* pszFormat, ...) PLUGTRAIL_PRINTF(2, 3);

    BOOL IsInstalled();
    DWORD QueryState();
    BOOL Install(BOOL bShowMessages);
    BOOL Uninstall(DWORD dwTimeoutMs, BOOL bShowMessages);

    static void WINAPI ServiceMainEntry(DWORD dwArgc, LPSTR* lpszArgv);
    // HandlerEx: only it receives preshutdown.
    static DWORD WINAPI HandlerEntry(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData, LPVOID lpContext);

    char szServiceName[SERVICE_NAME_SIZE];
    char szDisplayName[SERVICE_NAME_SIZE];
    SERVICE_STATUS_HANDLE hServiceStatus;
    SERVICE_STATUS status;
    BOOL bService;
    DWORD dwThreadId;  // the thread in Run, which WM_QUIT must reach; 0 once Run's loop has ended
    HWND hwnd;         // the notification window, set once it is registered
    volatile LONG lEndingControl;  // the ending control, set by Handler before it posts anything
    // Non-zero once the service has stopped with this service-specific exit
    // code: the process then ends with exit code 1.
    DWORD dwFailureExitCode;
    // What the service accepts once it runs: stop and shutdown, and on
    // Vista and later preshutdown, which XP does not know.
    DWORD dwRunControls;

private:
    // The last state reported; status is changed under the lock alone.
    CCriticalSection m_statusLock;
    DWORD m_dwReportedState;
    // The start's handshake with the window (START_* in service.cpp).
    volatile LONG m_lStart;
    HANDLE m_hStartAnswered;
};

extern CService theService;

// Every state reaches the SCM through this. Replaceable by tests, which hold
// the service at the moment they want to meet it instead of hoping to catch
// it in passing: under Wine nothing else can keep a service in a state.
using SetServiceStatusFunction = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
extern SetServiceStatusFunction pfnSetServiceStatus;

// Dispatches the calling thread's messages until WM_QUIT. With bOnlyAfterStop,
// a WM_QUIT that comes before the SCM asked for a stop is ignored.
void PumpUntilQuit(bool bOnlyAfterStop);

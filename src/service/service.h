// The program's dealings with the service control manager: running as a
// service, reporting its state, and installing and removing itself.
#pragma once

#include <windows.h>

#include <cstddef>

#include "util/printf_format.h"

constexpr size_t SERVICE_NAME_SIZE = 256;

// Sent by the service's run, once it has begun, to the notification window:
// register for device notifications and report the start of monitoring.
// The answer is 1, or 0 when the registration is refused.
constexpr UINT WM_BEGIN_MONITORING = WM_APP + 1;

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
    void SetStatus(DWORD dwState);
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

// The program's dealings with the service control manager: running as a
// service, reporting its state, and installing and removing itself.
#pragma once

#include <windows.h>

#include <cstddef>

#include "log/trace.h"

constexpr size_t SERVICE_NAME_SIZE = 256;

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
    void Handler(DWORD dwControl);
    // Event-log reports are not kept; this takes them and writes nothing.
    void LogEvent(const char* pszFormat, ...) PLUGTRAIL_PRINTF(2, 3);

    BOOL IsInstalled();
    DWORD QueryState();
    BOOL Install(BOOL bShowMessages);
    BOOL Uninstall(DWORD dwTimeoutMs, BOOL bShowMessages);

    static void WINAPI ServiceMainEntry(DWORD dwArgc, LPSTR* lpszArgv);
    static void WINAPI HandlerEntry(DWORD dwControl);

    char szServiceName[SERVICE_NAME_SIZE];
    char szDisplayName[SERVICE_NAME_SIZE];
    SERVICE_STATUS_HANDLE hServiceStatus;
    SERVICE_STATUS status;
    BOOL bService;
    DWORD dwThreadId;  // the thread in Run, which WM_QUIT must reach
    HWND hwnd;         // the notification window, set once it is registered
};

extern CService theService;

// Test tool: the program's service machinery under a test's own service name.
//
//   test_service install NAME SHOW
//       Init(NAME, NAME), then Install(SHOW); exits with Install's result.
//       Install registers this executable, so the service it starts is this
//       tool again, without arguments.
//   test_service [serve] [tracefile] [stopdelay=MS] [waithint=MS]
//       Runs as the service, started up the way the program's own entry
//       does it: the window thread first, then the control dispatcher.
//       tracefile   turns the trace file on once the window exists.
//       gated       holds the service before it reports RUNNING (so in
//                   START_PENDING) until the named event PlugtrailTestGate4
//                   is set, and before it reports STOPPED (so in
//                   STOP_PENDING) until PlugtrailTestGate1 is: each on the
//                   service's own thread, for a minute at most; a gate nobody
//                   made holds nothing. It sets PlugtrailTestGate<N>Held
//                   once it holds there.
//       nonotify    the window's registration for device notifications is
//                   refused.
//       stopdelay   answers a stop with SERVICE_STOP_PENDING but ends only
//                   MS later (a service slow or unable to stop).
//       waithint    the wait hint reported with that SERVICE_STOP_PENDING.
//       Both use a control handler of this tool; without them the program's
//       own CService::ServiceMain and CService::Handler run.
//   While C:\_test_service_dies exists, a start without arguments ends at
//   once, before the dispatcher: a service that fails to start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_change.h"
#include "device/notification_window.h"
#include "log/device_log.h"
#include "log/trace.h"
#include "service/service.h"

namespace {

constexpr char DEFAULT_NAME[] = "PlugtrailTestService";
constexpr char DIE_FLAG[] = "C:\\_test_service_dies";

DWORD g_dwStopDelayMs = 0;

void HoldAtGate(DWORD dwState)
{
    char szGate[32];
    std::snprintf(szGate, sizeof szGate, "PlugtrailTestGate%lu", dwState);
    HANDLE hGate = OpenEventA(SYNCHRONIZE, FALSE, szGate);
    if (hGate == nullptr) return;
    char szHeld[40];
    std::snprintf(szHeld, sizeof szHeld, "%sHeld", szGate);
    if (HANDLE hHeld = OpenEventA(EVENT_MODIFY_STATE, FALSE, szHeld)) {
        SetEvent(hHeld);
        CloseHandle(hHeld);
    }
    WaitForSingleObject(hGate, 60000);
    CloseHandle(hGate);
}

BOOL WINAPI GatedSetServiceStatus(SERVICE_STATUS_HANDLE hStatus, LPSERVICE_STATUS pStatus)
{
    if (pStatus->dwCurrentState == SERVICE_RUNNING || pStatus->dwCurrentState == SERVICE_STOPPED)
        HoldAtGate(pStatus->dwCurrentState);
    return SetServiceStatus(hStatus, pStatus);
}

HDEVNOTIFY WINAPI RefuseRegistration(HANDLE, LPVOID, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
DWORD g_dwStopWaitHint = 0;

DWORD WINAPI DelayedStop(LPVOID)
{
    Sleep(g_dwStopDelayMs);
    PostThreadMessageA(theService.dwThreadId, WM_QUIT, 0, 0);
    PostMessageA(theService.hwnd, WM_CLOSE, 0, 0);
    return 0;
}

void WINAPI SlowHandler(DWORD dwControl)
{
    if (dwControl != SERVICE_CONTROL_STOP) return;
    InterlockedExchange(&theService.lEndingControl, 1);  // as the program's own Handler does
    theService.SetStatus(SERVICE_STOP_PENDING, g_dwStopWaitHint);
    HANDLE hThread = CreateThread(nullptr, 0, DelayedStop, nullptr, 0, nullptr);
    if (hThread != nullptr) CloseHandle(hThread);
}

void WINAPI SlowServiceMain(DWORD, LPSTR*)
{
    theService.hServiceStatus = RegisterServiceCtrlHandlerA(theService.szServiceName, SlowHandler);
    if (theService.hServiceStatus == nullptr) return;
    theService.SetStatus(SERVICE_START_PENDING);
    theService.Run();
    theService.SetStatus(SERVICE_STOPPED);
}

int Serve(HINSTANCE hInstance, int argc, char** argv)
{
    bool bTraceFile = false;
    bool bSlow = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "tracefile") == 0) bTraceFile = true;
        if (std::strcmp(argv[i], "nonotify") == 0) pfnRegisterDeviceNotificationA = RefuseRegistration;
        if (std::strcmp(argv[i], "gated") == 0) pfnSetServiceStatus = GatedSetServiceStatus;
        if (std::strncmp(argv[i], "stopdelay=", 10) == 0) {
            g_dwStopDelayMs = std::strtoul(argv[i] + 10, nullptr, 10);
            bSlow = true;
        }
        if (std::strncmp(argv[i], "waithint=", 9) == 0) {
            g_dwStopWaitHint = std::strtoul(argv[i] + 9, nullptr, 10);
            bSlow = true;
        }
    }
    theService.Init(DEFAULT_NAME, DEFAULT_NAME);
    pDeviceStore = CreateDeviceStore();
    HANDLE hWindowThread = CreateThread(nullptr, 0, CreateMainWindowProc, hInstance, 0, nullptr);
    for (int i = 0; i < 200 && theService.hwnd == nullptr; ++i) Sleep(50);
    if (hWindowThread != nullptr) CloseHandle(hWindowThread);
    if (theService.hwnd == nullptr) return 3;

    if (bTraceFile) bTraceToFile = 1;
    theService.bService = 1;
    if (!bSlow) {
        theService.Start();
        return 0;
    }
    SERVICE_TABLE_ENTRYA table[] = {{theService.szServiceName, SlowServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "install") == 0) {
        theService.Init(argv[2], argv[2]);
        return theService.Install(std::atoi(argv[3])) == 1 ? 1 : 0;
    }
    if (argc == 1 && GetFileAttributesA(DIE_FLAG) != INVALID_FILE_ATTRIBUTES) return 5;
    return Serve(GetModuleHandleA(nullptr), argc, argv);
}

#include "device/notification_window.h"

#include <dbt.h>

#include <cstdint>

#include "app/app.h"
#include "device/device_change.h"
#include "device/device_info.h"
#include "device/device_report.h"
#include "device/volume_change.h"
#include "device/volume_info.h"
#include "eventlog/event_log.h"
#include "eventlog/run.h"
#include "log/device_log.h"
#include "log/trace.h"
#include "service/service.h"
#include "util/scoped_handle.h"
#include "util/text.h"

HWND hwndMain = nullptr;

namespace {

constexpr size_t WINDOW_MESSAGE_SIZE = 1024;

// While device log lines wait for a held file, they are tried again this
// often; without waiting lines there is no timer.
constexpr UINT_PTR LOG_RETRY_TIMER_ID = 1;
constexpr UINT LOG_RETRY_MS = 1000;

// Outlives the call: the error paths format into it. Explicitly in .bss, as
// the toolchain would otherwise store its zeros in the executable.
char szErrorText[ERROR_TEXT_SIZE] __attribute__((section(".bss")));

// Used on the window's thread alone. Device events count only while the
// run monitors; the retry timer runs while lines wait, and arming it again
// would start its second anew.
bool bMonitoring = false;
bool bRetryArmed = false;

void ShowLastError(const char* pszFormat)
{
    GetLastErrorText(szErrorText);
    char szMessage[WINDOW_MESSAGE_SIZE];
    FormatText(szMessage, pszFormat, szErrorText);
    ShowMessage(szMessage, MB_ICONERROR);
}

// Without notifications no device can be logged: the Application log says
// so, a debug run's user is told, and a service stops with a failure code,
// which the SCM's recovery answers with a restart.
void NotificationsFailed(DWORD dwError)
{
    ReportNotificationsFailed(dwError);
    if (!bDebugMode) return;
    SystemErrorText(dwError, szErrorText);
    char szMessage[WINDOW_MESSAGE_SIZE];
    FormatText(szMessage, "Device notifications could not be registered (error %lu): %s", dwError, szErrorText);
    ShowMessage(szMessage, MB_ICONERROR);
}

void RetryLaterIfLinesWait(HWND hwnd)
{
    if (bRetryArmed || !theDeviceLog.BacklogPending()) return;
    bRetryArmed = SetTimer(hwnd, LOG_RETRY_TIMER_ID, LOG_RETRY_MS, nullptr) != 0;
}

// The registration lasts as long as the window. False, with the error left
// for GetLastError, when it is refused.
bool RegisterForInterfaces(HWND hwnd, const GUID& classGuid)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = classGuid;
    return pfnRegisterDeviceNotificationA(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE) != nullptr;
}

// Volume broadcasts reach every top-level window, but a service in session 0
// cannot count on them: the volume interfaces tell it as well. Without them
// the broadcasts still serve, so a refusal is only traced.
void RegisterForVolumes(HWND hwnd)
{
    if (!RegisterForInterfaces(hwnd, kGuidDevinterfaceVolume)) {
        const DWORD dwError = GetLastError();
        TraceFailure("RegisterDeviceNotificationA", "GUID_DEVINTERFACE_VOLUME", dwError);
    }
}

// Keyboards are reported by their own interface: without its notifications
// no keyboard's arrival is heard. ERROR_SUCCESS, or the refusal's error,
// which ReportKeyboardsRefused puts on record once the run's start is.
DWORD RegisterForKeyboards(HWND hwnd)
{
    if (RegisterForInterfaces(hwnd, kGuidDevinterfaceKeyboard)) return ERROR_SUCCESS;
    const DWORD dwError = GetLastError();
    TraceFailure("RegisterDeviceNotificationA", "GUID_DEVINTERFACE_KEYBOARD", dwError);
    return dwError;
}

void ReportKeyboardsRefused(DWORD dwError)
{
    char szError[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szError, ErrorTextEnd::Dropped);
    char szText[WINDOW_MESSAGE_SIZE];
    FormatText(szText,
               "Keyboard notifications could not be registered (RegisterDeviceNotificationA, error %lu: %s): no "
               "keyboard's arrival is reported in this run",
               dwError, szError);
    ReportServiceError(szText);
}

// Registers the window for device notifications, notes the devices already
// in, so that their removal is logged, and reports the start of monitoring.
// Seeding after the registration and before the next message leaves no
// moment in which an arrival goes unseen. The volumes mounted now are read on
// the volume thread, after the start is reported. False when the
// registration is refused: the run is then on record, with the reason it
// cannot monitor.
bool BeginMonitoring(HWND hwnd)
{
    if (bMonitoring) return true;
    if (!RunHasBegun()) {
        Trace(1, "no run has begun: no monitoring");
        return false;
    }
    if (!RegisterForInterfaces(hwnd, kGuidDevinterfaceUsbDevice)) {
        const DWORD dwError = GetLastError();
        ReportRunStarted(0);
        NotificationsFailed(dwError);
        return false;
    }
    RegisterForVolumes(hwnd);
    const DWORD dwKeyboardsError = RegisterForKeyboards(hwnd);
    // Start-up makes the store before the window; without one, the run's
    // start is all there is to report.
    if (pDeviceStore == nullptr) {
        ReportRunStarted(0);
    } else {
        StartMonitoring(*pDeviceStore);
        if (dwKeyboardsError != ERROR_SUCCESS) ReportKeyboardsRefused(dwKeyboardsError);
        char szLetters[DRIVE_LETTERS_SIZE];
        DriveMaskToLetters(GetLogicalDrives(), szLetters);
        StartVolumeWork(szLetters);
        ReportDevicesKnownBefore(*pDeviceStore);
    }
    bMonitoring = true;
    // An earlier run's loss line may wait for the log.
    RetryLaterIfLinesWait(hwnd);
    return true;
}

}  // namespace

RegisterDeviceNotificationFunction pfnRegisterDeviceNotificationA = RegisterDeviceNotificationA;

void GetLastErrorText(char (&szText)[ERROR_TEXT_SIZE])
{
    SystemErrorText(GetLastError(), szText);
}

DWORD WINAPI CreateMainWindowProc(LPVOID lpInstance)
{
    Trace(3, "CreateMainWindowProc");
    const HINSTANCE hInstance = static_cast<HINSTANCE>(lpInstance);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    if (bDebugMode) {
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    }
    if (!RegisterClassA(&wc)) {
        ShowLastError("Error registering the window class err=%s");
        return 0;
    }

    hwndMain = CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_POPUPWINDOW | WS_DLGFRAME | WS_MINIMIZEBOX,
                               32, 32, 256, 96, nullptr, nullptr, hInstance, nullptr);
    if (hwndMain == nullptr) {
        ShowLastError("Error creating the main window err=%s");
        return 0;
    }
    Trace(3, "hwndMain=%u", static_cast<unsigned>(reinterpret_cast<uintptr_t>(hwndMain)));

    // A debug run has begun already; a service's begins once the dispatcher
    // has connected, and asks the window then.
    if (bDebugMode && !BeginMonitoring(hwndMain)) return 0;

    // Last: a non-null hwnd tells start-up the window is complete.
    theService.hwnd = hwndMain;

    ShowWindow(hwndMain, bDebugMode ? SW_SHOWNORMAL : SW_HIDE);
    if (bDebugMode) return 0;

    PumpUntilQuit(true);
    return 0;
}

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_CLOSE:
        // A service's window can be reached by other programs: it closes only
        // when the SCM has asked for a stop. Closing a debug run's window
        // ends the run.
        if (!bDebugMode && !theService.StopRequested()) return 0;
        // Run's loop ends only after this thread is done with the window:
        // no device event is handled once the end of the run has begun, and
        // the volume thread reports nothing after it.
        EndVolumeWork();
        DestroyWindow(hwnd);
        PostThreadMessageA(theService.dwThreadId, WM_QUIT, 0, 0);
        return 0;
    case WM_BEGIN_MONITORING:
        // A service that gave up waiting for the answer has ended its run.
        if (theService.TakeStart()) theService.AnswerStart(BeginMonitoring(hwnd));
        return 0;
    case WM_DEVICECHANGE:
        if (!bMonitoring) {
            Trace(1, "WM_DEVICECHANGE before monitoring began: ignored");
            break;
        }
        OnDeviceChange(wParam, lParam);
        RetryLaterIfLinesWait(hwnd);
        break;
    case WM_TIMER:
        if (wParam == LOG_RETRY_TIMER_ID && theDeviceLog.FlushBacklog()) {
            KillTimer(hwnd, LOG_RETRY_TIMER_ID);
            bRetryArmed = false;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

#include "device/notification_window.h"

#include <dbt.h>

#include <cstdint>

#include "app/app.h"
#include "device/device_change.h"
#include "device/device_info.h"
#include "log/log.h"
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

// Outlives the call: both error paths format into it.
char szErrorText[ERROR_TEXT_SIZE];

void ShowLastError(const char* pszFormat)
{
    GetLastErrorText(szErrorText);
    char szMessage[WINDOW_MESSAGE_SIZE];
    FormatText(szMessage, pszFormat, szErrorText);
    ShowMessage(szMessage, MB_ICONERROR);
}

}  // namespace

void GetLastErrorText(char (&szText)[ERROR_TEXT_SIZE])
{
    const DWORD dwError = GetLastError();
    char* pszSystemText = nullptr;
    const DWORD cch = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, dwError,
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<LPSTR>(&pszSystemText), 0, nullptr);
    ScopedLocalMem systemText(pszSystemText);
    if (cch == 0 || pszSystemText == nullptr) {
        FormatText(szText, "error %lu\r\n", dwError);
        return;
    }
    CopyText(szText, pszSystemText);
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

    DEV_BROADCAST_DEVICEINTERFACE_A filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kGuidDevinterfaceUsbDevice;
    RegisterDeviceNotificationA(hwndMain, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    // Devices already in are known before the first event, so their removal
    // is logged. Seeding after the registration and before the first message
    // leaves no moment in which an arrival goes unseen.
    if (pDeviceStore != nullptr) SeedDeviceStore(*pDeviceStore);

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
        PostThreadMessageA(theService.dwThreadId, WM_QUIT, 0, 0);
        break;
    case WM_DEVICECHANGE:
        OnDeviceChange(wParam, lParam);
        if (DeviceLogBacklogPending()) SetTimer(hwnd, LOG_RETRY_TIMER_ID, LOG_RETRY_MS, nullptr);
        break;
    case WM_TIMER:
        if (wParam == LOG_RETRY_TIMER_ID && FlushDeviceLogBacklog()) KillTimer(hwnd, LOG_RETRY_TIMER_ID);
        break;
    default:
        break;
    }
    return DefWindowProcA(hwnd, uMsg, wParam, lParam);
}

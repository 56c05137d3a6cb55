// The hidden (or, in a debug run, visible) window that receives the system's
// device-change broadcasts for USB devices.
#pragma once

#include <windows.h>

#include <cstddef>

#include "util/system_error.h"

constexpr char MAIN_WINDOW_CLASS[] = "Plugtrail_MainWndClass";
constexpr char MAIN_WINDOW_TITLE[] = "Plugtrail";

extern HWND hwndMain;

// Creates the window. A debug run's window begins monitoring at once; a
// service's when the service's run has begun and asks it to
// (WM_BEGIN_MONITORING), and it pumps the window's messages for the life of
// the process. A debug run returns once the window is shown. Always
// returns 0.
DWORD WINAPI CreateMainWindowProc(LPVOID lpInstance);

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Registers the window for device notifications. Replaceable by tests: Wine
// cannot be made to refuse a registration.
using RegisterDeviceNotificationFunction = HDEVNOTIFY(WINAPI*)(HANDLE, LPVOID, DWORD);
extern RegisterDeviceNotificationFunction pfnRegisterDeviceNotificationA;

// The system's text for the calling thread's last error code.
void GetLastErrorText(char (&szText)[ERROR_TEXT_SIZE]);

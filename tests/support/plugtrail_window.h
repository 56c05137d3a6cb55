// Finding the notification window of a running Plugtrail from another
// process, whether it runs on this desktop (a debug run) or as a service.
#pragma once

#include <windows.h>

constexpr char kPlugtrailWindowClass[] = "Plugtrail_MainWndClass";
constexpr char kPlugtrailWindowTitle[] = "Plugtrail";

// True when hwnd is a window with Plugtrail's class and title.
bool IsPlugtrailWindow(HWND hwnd);

// The window of a running Plugtrail, or null. FindWindowA sees only this
// desktop; a service started by the service control manager gets a desktop
// of its own under Wine, so the small handle values Wine hands out are then
// probed one by one (a window handle is usable from any desktop).
HWND FindPlugtrailWindow();

// FindPlugtrailWindow, asked again every 100 ms until it finds the window
// monitoring (shown, or its service running: until then it ignores device
// events) or dwMs have passed.
HWND WaitForPlugtrailWindow(DWORD dwMs);

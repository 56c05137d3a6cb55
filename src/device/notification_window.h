// The hidden (or, in a debug run, visible) window that receives the system's
// device-change broadcasts for USB devices.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr char MAIN_WINDOW_CLASS[] = "Plugtrail_MainWndClass";
constexpr char MAIN_WINDOW_TITLE[] = "Plugtrail";
constexpr size_t ERROR_TEXT_SIZE = 2048;

extern HWND hwndMain;

// Creates and registers the window. In a service run it then pumps the
// window's messages for the life of the process; in a debug run it returns
// once the window is shown. Always returns 0.
DWORD WINAPI CreateMainWindowProc(LPVOID lpInstance);

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The system's text for the calling thread's last error code.
void GetLastErrorText(char (&szText)[ERROR_TEXT_SIZE]);

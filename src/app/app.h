// Start-up state and the program's message boxes.
#pragma once

#include <windows.h>

#include "log/device_log.h"

constexpr char PROGRAM_NAME[] = "Plugtrail";

// Set by the "debug" option: run as an ordinary program with a visible window.
extern BYTE bDebugMode;

// A message box with the program's caption and no owner window.
int ShowMessage(const char* pszText, UINT uStyle);

// The command-line usage, as an error box.
void ShowUsage();

// Tells a debug run's user that no device line can be written, and why.
void ShowDeviceLogProblem(DeviceLogState state, DWORD dwError);

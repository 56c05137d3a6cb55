// Device-change broadcasts as the system sends them, played to a window in
// another process.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A DEV_BROADCAST_DEVICEINTERFACE_A record of the given class with the path,
// sized to hold it (never smaller than the structure itself).
std::vector<BYTE> InterfaceRecord(const GUID& classGuid, const std::string& path);

// Sends WM_DEVICECHANGE and waits until the window procedure has handled it;
// false when it did not within dwMs. The record, if any, must start with
// its size (Wine copies dbch_size bytes when code has bit 0x8000 set).
bool SendDeviceChange(HWND hwnd, WPARAM code, const void* pRecord, DWORD dwMs = 10000);

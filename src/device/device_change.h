// Turns WM_DEVICECHANGE broadcasts into lines of the device log.
#pragma once

#include <windows.h>

#include <cstddef>

#include "device/device_store.h"

constexpr size_t DRIVE_LETTERS_SIZE = 27;  // A to Z and the terminator

// The one store of attached devices; null until start-up has created it.
// While it is null, device events are logged but nothing is stored or found.
extern CDeviceInfoStore* pDeviceStore;

// The last event the interface handler accepted, for dropping exact repeats.
extern BYTE cLastArrival;
extern char szLastDevicePath[DEVICE_PATH_SIZE];

// True when all 16 bytes are equal.
bool GuidEquals(const GUID* a, const GUID* b);

// Writes the letters of the drives set in mask (bit 0 is A, bits 26 to 31 are
// ignored), in alphabetical order; returns how many.
int DriveMaskToLetters(DWORD dwMask, char (&szLetters)[DRIVE_LETTERS_SIZE]);

// Decodes one WM_DEVICECHANGE: wParam is the event code, lParam the
// broadcast record where the code has one.
void OnDeviceChange(WPARAM wParam, LPARAM lParam);

// Handles the arrival or removal of a device interface. pszDevicePath points
// into the broadcast record, which the lookup may lower-case in place.
void OnDeviceInterfaceChange(GUID classGuid, char* pszDevicePath, bool bArrived);

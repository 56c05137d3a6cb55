// The USB devices this machine has seen, under HKLM\SOFTWARE\Plugtrail\Devices:
// one value per device, named by its instance ID, holding the time of its
// first sighting as a UTC FILETIME (REG_QWORD). The key has the run state's
// protection, whoever made it, and goes with it when Plugtrail is removed.
#pragma once

#include <windows.h>

#include "eventlog/run_state.h"

constexpr char KNOWN_DEVICES_KEY[] = "SOFTWARE\\Plugtrail\\Devices";
// How many devices are remembered; a new one beyond still counts as new.
constexpr DWORD KNOWN_DEVICES_MAX = 4096;

// Opens the key at the start of a run, creating it where it is missing.
RunStateResult OpenKnownDevices();
// True once the key is open: without it, nothing can be told new or known.
bool KnownDevicesOpen();
// True when this run made the key: the first run after installation, or
// after an upgrade from a version without it, learns what Windows knew.
bool KnownDevicesAreNew();

// True when the device is recorded.
bool IsKnownDevice(const char* pszInstanceId);
// Records the device, first seen at ullFirstSeen (a FILETIME's ticks); false
// when it is not recorded: the record is full, or cannot be written. The
// first such failure of a run is reported (event 122).
bool RecordKnownDevice(const char* pszInstanceId, unsigned long long ullFirstSeen);
// The same, first seen now.
bool RecordKnownDeviceNow(const char* pszInstanceId);
// Now, as a FILETIME's ticks, as the record keeps its times.
unsigned long long FileTimeNow();
// Reports a record that is full already, as RecordKnownDevice's failure is,
// once the run's start is: every new device will count as new again.
void ReportKnownDevicesFull();

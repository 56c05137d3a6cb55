// The program's events in the Application event log, beside the device log:
// the same attachments and removals, with what identifies the device, in the
// channel that fleets of Windows machines already collect.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr char EVENT_SOURCE_NAME[] = "Plugtrail";

// Message IDs of the executable's message table (res/plugtrail_messages.mc).
constexpr DWORD EVENT_DEVICE_ATTACHED = 100;
constexpr DWORD EVENT_DEVICE_REMOVED = 101;
constexpr DWORD EVENT_LINES_LOST = 102;

// Type label, friendly name, description, manufacturer, instance ID, vendor
// ID, product ID, serial number: the inserts of events 100 and 101.
constexpr size_t DEVICE_EVENT_STRINGS = 8;

// Reports one attachment or removal event with its eight strings (none null;
// unknown ones empty). Control characters become spaces, as in the device
// log. A source that cannot be opened or a report that fails is traced, and
// the next event tries again. Allocates nothing.
void ReportDeviceEvent(DWORD dwEventId, const char* const (&apszStrings)[DEVICE_EVENT_STRINGS]);

// Reports that dwCount device log lines were lost (a warning).
void ReportLostLines(DWORD dwCount);

// Registers the event source for the Application log, with pszMessageFile
// (the installed executable) holding its messages. Failures are traced.
void RegisterEventLogSource(const char* pszMessageFile);
// Removes that registration; a missing one is no failure.
void RemoveEventLogSource();

// The program's events in the Application event log, beside the device log:
// the same attachments and removals, with what identifies the device, in the
// channel that fleets of Windows machines already collect; and whatever
// keeps a device line from the log, or ends all logging.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr char EVENT_SOURCE_NAME[] = "Plugtrail";

// Message IDs of the executable's message table (res/plugtrail_messages.mc).
constexpr DWORD EVENT_DEVICE_ATTACHED = 100;
constexpr DWORD EVENT_DEVICE_REMOVED = 101;
constexpr DWORD EVENT_LINES_LOST = 102;
constexpr DWORD EVENT_LOG_UNWRITABLE = 120;
constexpr DWORD EVENT_NOTIFICATIONS_FAILED = 121;
constexpr DWORD EVENT_SERVICE_ERROR = 122;

// Type label, friendly name, description, manufacturer, instance ID, vendor
// ID, product ID, serial number: the inserts of events 100 and 101.
constexpr size_t DEVICE_EVENT_STRINGS = 8;

// Reports one attachment or removal event with its eight strings (none null;
// unknown ones empty). Control characters become spaces, as in the device
// log. Allocates nothing.
void ReportDeviceEvent(DWORD dwEventId, const char* const (&apszStrings)[DEVICE_EVENT_STRINGS]);

// Reports that dwCount device log lines were lost (a warning).
void ReportLostLines(DWORD dwCount);

// Reports that the device log at pszPath cannot be written, with the
// system's error (an error event).
void ReportLogUnwritable(const char* pszPath, DWORD dwError);

// Reports that the window could not be registered for device notifications,
// so no device can be logged (an error event).
void ReportNotificationsFailed(DWORD dwError);

// Reports a failure of the service's own machinery, in its own words.
void ReportServiceError(const char* pszText);

// Every report goes through this; a report that fails is tried once more on
// a freshly registered source, since the source's handle does not survive a
// restart of the event log service. What still fails is traced. Replaceable
// by tests: Wine's ReportEventA never fails.
using ReportEventFunction = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCSTR*, LPVOID);
extern ReportEventFunction pfnReportEventA;

// Registers the event source for the Application log, with pszMessageFile
// (the installed executable) holding its messages. Failures are traced.
void RegisterEventLogSource(const char* pszMessageFile);
// Removes that registration; a missing one is no failure.
void RemoveEventLogSource();

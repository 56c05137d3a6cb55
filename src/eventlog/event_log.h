// The program's events in the Application event log, beside the device log:
// the same attachments and removals, with what identifies the device, in the
// channel that fleets of Windows machines already collect; when monitoring
// started and stopped, and whether the run before ended without a stop;
// and whatever keeps a device line from the log, or ends all logging.
//
// Every event ends with the same three strings: the user at the console, the
// event's sequence number within the run (1 for the first, one more for
// every report tried, so a missing number shows a lost event) and the run's
// identity (its start in UTC).
#pragma once

#include <windows.h>

#include <cstddef>

#include "plugtrail_product.h"

constexpr char EVENT_SOURCE_NAME[] = PLUGTRAIL_EVENT_SOURCE;

// Message IDs of the executable's message table (res/plugtrail_messages.mc).
constexpr DWORD EVENT_DEVICE_ATTACHED = 100;
constexpr DWORD EVENT_DEVICE_REMOVED = 101;
constexpr DWORD EVENT_LINES_LOST = 102;
constexpr DWORD EVENT_DEVICE_PRESENT = 103;
constexpr DWORD EVENT_VOLUME_MOUNTED = 104;
constexpr DWORD EVENT_VOLUME_REMOVED = 105;
constexpr DWORD EVENT_VOLUME_PRESENT = 106;
constexpr DWORD EVENT_DEVICE_KNOWN_BEFORE = 107;
constexpr DWORD EVENT_DEVICE_FIRST_SEEN = 108;
constexpr DWORD EVENT_MONITORING_STARTED = 110;
constexpr DWORD EVENT_MONITORING_STOPPED = 111;
constexpr DWORD EVENT_UNCLEAN_END = 112;
constexpr DWORD EVENT_LOG_UNWRITABLE = 120;
constexpr DWORD EVENT_NOTIFICATIONS_FAILED = 121;
constexpr DWORD EVENT_SERVICE_ERROR = 122;

// Type label, friendly name, description, manufacturer, instance ID, vendor
// ID, product ID, serial number: the first inserts of events 100, 101, 103.
constexpr size_t DEVICE_EVENT_STRINGS = 8;
// Drive, label, file system, serial number, capacity, volume GUID path, and
// the USB device's instance ID, vendor ID, product ID and serial number: the
// first inserts of events 104, 105, 106.
constexpr size_t VOLUME_EVENT_STRINGS = 10;
// A device's eight, then the times Windows first installed it, last saw it
// arrive and last saw it removed: the first inserts of event 107.
constexpr size_t HISTORY_EVENT_STRINGS = 11;

// Told of each sequence number as it is taken, one at a time and in order.
using SequenceNote = void (*)(DWORD dwSequence);

// The run whose events follow: pszRun is its identity, and the sequence
// starts again at 1; pfnTaken (may be null) hears of every number taken.
// Call before other threads report.
void BeginEventRun(const char* pszRun, SequenceNote pfnTaken);

// Reports one device event (100, 101, 103 or 108) with its eight strings (none
// null; unknown ones empty). Control characters become spaces, as in the
// device log. Allocates nothing.
void ReportDeviceEvent(DWORD dwEventId, const char* const (&apszStrings)[DEVICE_EVENT_STRINGS]);

// Reports one volume event (104, 105 or 106) with its ten strings, as
// ReportDeviceEvent does a device's.
void ReportVolumeEvent(DWORD dwEventId, const char* const (&apszStrings)[VOLUME_EVENT_STRINGS]);

// Reports a device that Windows knew before monitoring (107) with its eleven
// strings.
void ReportHistoryEvent(DWORD dwEventId, const char* const (&apszStrings)[HISTORY_EVENT_STRINGS]);

// Reports that dwCount device log lines were lost (a warning).
void ReportLostLines(DWORD dwCount);

// Reports the start of monitoring: the program's version, and how many
// events 103 follow.
void ReportMonitoringStarted(const char* pszVersion, DWORD dwPresentDevices);
// Reports the end of monitoring, with its reason.
void ReportMonitoringStopped(const char* pszReason);
// Reports that the run pszRun ended without a stop, after its event
// dwLastSequence (a warning).
void ReportUncleanEnd(const char* pszRun, DWORD dwLastSequence);

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

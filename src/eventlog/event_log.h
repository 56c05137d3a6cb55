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

#include "eventlog/event_table.h"
#include "plugtrail_product.h"

constexpr char EVENT_SOURCE_NAME[] = PLUGTRAIL_EVENT_SOURCE;

// Told of each sequence number as it is taken, one at a time and in order.
using SequenceNote = void (*)(DWORD dwSequence);

// The run whose events follow: pszRun is its identity, and the sequence
// starts again at 1; pfnTaken (may be null) hears of every number taken.
// Call before other threads report.
void BeginEventRun(const char* pszRun, SequenceNote pfnTaken);

// Reports one event of the table, at its level, with its own strings, as
// many as its row names (none null; unknown ones empty). Strings from
// devices become as the row says. Allocates nothing.
void ReportEvent(EventId id, EventLevel level, const char* const* apszStrings, size_t cStrings);
template <size_t N>
void ReportEvent(EventId id, const char* const (&apszStrings)[N])
{
    static_assert(N <= EVENT_OWN_STRINGS_MAX, "an event's own strings fit its report");
    ReportEvent(id, DescribeEvent(id).level, apszStrings, N);
}
// The same at another level than the table's, for an event whose level
// depends on what it reports.
template <size_t N>
void ReportEvent(EventId id, EventLevel level, const char* const (&apszStrings)[N])
{
    static_assert(N <= EVENT_OWN_STRINGS_MAX, "an event's own strings fit its report");
    ReportEvent(id, level, apszStrings, N);
}

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

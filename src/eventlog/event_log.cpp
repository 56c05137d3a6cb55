#include "eventlog/event_log.h"

#include "eventlog/console_user.h"
#include "log/log_line.h"
#include "log/trace.h"
#include "util/critical_section.h"
#include "util/system_error.h"
#include "util/text.h"

namespace {

// Room for the longest text a device gives an event (a property of up to
// 259 characters); the instance ID is shorter still.
constexpr size_t EVENT_INSERT_SIZE = 260;
constexpr size_t COUNT_TEXT_SIZE = 16;

static_assert(static_cast<WORD>(EventLevel::Error) == EVENTLOG_ERROR_TYPE &&
                  static_cast<WORD>(EventLevel::Warning) == EVENTLOG_WARNING_TYPE &&
                  static_cast<WORD>(EventLevel::Information) == EVENTLOG_INFORMATION_TYPE,
              "the table's levels are the system's event types");

// A number as an event's insert.
class CNumberText {
public:
    explicit CNumberText(DWORD dwNumber) { FormatText(m_sz, "%lu", dwNumber); }
    const char* get() const { return m_sz; }

private:
    char m_sz[COUNT_TEXT_SIZE];
};

// Reports come from the window thread, the service thread and the control
// dispatcher's thread; one at a time, so that sequence numbers follow the
// order of the reports, and since a failed report reopens the source that
// the others use.
CCriticalSection eventLock;

// Everything below is used under the lock.
char szRunId[RUN_ID_SIZE] = "";
DWORD dwSequence = 0;
SequenceNote pfnSequenceTaken = nullptr;

// Opened at the first report and kept until a report fails.
HANDLE hEventSource = nullptr;

HANDLE EventSource()
{
    if (hEventSource != nullptr) return hEventSource;
    hEventSource = RegisterEventSourceA(nullptr, EVENT_SOURCE_NAME);
    if (hEventSource == nullptr) {
        const DWORD dwError = GetLastError();
        TraceFailure("RegisterEventSourceA", EVENT_SOURCE_NAME, dwError);
    }
    return hEventSource;
}

bool TryReport(WORD wType, DWORD dwEventId, const char** apszStrings, WORD cStrings)
{
    HANDLE hSource = EventSource();
    return hSource != nullptr &&
           pfnReportEventA(hSource, wType, 0, dwEventId, nullptr, cStrings, 0, apszStrings, nullptr);
}

// Reports an event with its own strings and the three that every event ends
// with. Its sequence number is taken whether or not the report succeeds: a
// collector then sees the gap.
void Report(WORD wType, DWORD dwEventId, const char* const* apszOwn, size_t cOwn)
{
    char szUser[CONSOLE_USER_SIZE];
    ReadConsoleUser(szUser);
    CLocked locked(eventLock);
    const CNumberText sequence(++dwSequence);
    const char* apszStrings[EVENT_OWN_STRINGS_MAX + EVENT_COMMON_STRINGS];
    size_t cStrings = 0;
    for (; cStrings < cOwn && cStrings < EVENT_OWN_STRINGS_MAX; ++cStrings) apszStrings[cStrings] = apszOwn[cStrings];
    apszStrings[cStrings++] = szUser;
    apszStrings[cStrings++] = sequence.get();
    apszStrings[cStrings++] = szRunId;
    const WORD wStrings = static_cast<WORD>(cStrings);

    if (!TryReport(wType, dwEventId, apszStrings, wStrings)) {
        DWORD dwError = GetLastError();
        const CNumberText eventId(dwEventId);
        TraceFailure("ReportEventA", eventId.get(), dwError);
        Trace(1, "registering the event source again");
        if (hEventSource != nullptr) DeregisterEventSource(hEventSource);
        hEventSource = nullptr;
        if (!TryReport(wType, dwEventId, apszStrings, wStrings)) {
            dwError = GetLastError();
            TraceFailure("ReportEventA", eventId.get(), dwError);
        }
    }
    if (pfnSequenceTaken != nullptr) pfnSequenceTaken(dwSequence);
}

}  // namespace

ReportEventFunction pfnReportEventA = ReportEventA;

void BeginEventRun(const char* pszRun, SequenceNote pfnTaken)
{
    CLocked locked(eventLock);
    CopyText(szRunId, pszRun);
    dwSequence = 0;
    pfnSequenceTaken = pfnTaken;
}

void ReportEvent(EventId id, EventLevel level, const char* const* apszStrings, size_t cStrings)
{
    const EventDescription& event = DescribeEvent(id);
    if (cStrings != EventStringCount(id)) Trace(1, "event %lu: %u strings given", static_cast<unsigned long>(id),
                                                static_cast<unsigned>(cStrings));
    if (cStrings > EVENT_OWN_STRINGS_MAX) cStrings = EVENT_OWN_STRINGS_MAX;
    const WORD wType = static_cast<WORD>(level);
    if (!event.bDeviceTexts) {
        Report(wType, id, apszStrings, cStrings);
        return;
    }
    char aszInserts[EVENT_OWN_STRINGS_MAX][EVENT_INSERT_SIZE];
    const char* apszInserts[EVENT_OWN_STRINGS_MAX];
    for (size_t i = 0; i < cStrings; ++i) {
        CopyText(aszInserts[i], apszStrings[i]);
        ReplaceControlChars(aszInserts[i]);
        apszInserts[i] = aszInserts[i];
    }
    Report(wType, id, apszInserts, cStrings);
}

void ReportLostLines(DWORD dwCount)
{
    const CNumberText count(dwCount);
    const char* apszInserts[] = {count.get()};
    ReportEvent(EVENT_LINES_LOST, apszInserts);
}

void ReportMonitoringStarted(const char* pszVersion, DWORD dwPresentDevices)
{
    const CNumberText count(dwPresentDevices);
    const char* apszInserts[] = {pszVersion, count.get()};
    ReportEvent(EVENT_MONITORING_STARTED, apszInserts);
}

void ReportMonitoringStopped(const char* pszReason)
{
    const char* apszInserts[] = {pszReason};
    ReportEvent(EVENT_MONITORING_STOPPED, apszInserts);
}

void ReportUncleanEnd(const char* pszRun, DWORD dwLastSequence)
{
    const CNumberText lastSequence(dwLastSequence);
    const char* apszInserts[] = {pszRun, lastSequence.get()};
    ReportEvent(EVENT_UNCLEAN_END, apszInserts);
}

void ReportLogUnwritable(const char* pszPath, DWORD dwError)
{
    const CNumberText code(dwError);
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText, ErrorTextEnd::Dropped);
    const char* apszInserts[] = {pszPath, code.get(), szText};
    ReportEvent(EVENT_LOG_UNWRITABLE, apszInserts);
}

void ReportNotificationsFailed(DWORD dwError)
{
    const CNumberText code(dwError);
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText, ErrorTextEnd::Dropped);
    const char* apszInserts[] = {code.get(), szText};
    ReportEvent(EVENT_NOTIFICATIONS_FAILED, apszInserts);
}

void ReportServiceError(const char* pszText)
{
    const char* apszInserts[] = {pszText};
    ReportEvent(EVENT_SERVICE_ERROR, apszInserts);
}


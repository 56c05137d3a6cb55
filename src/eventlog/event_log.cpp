#include "eventlog/event_log.h"

#include "eventlog/console_user.h"
#include "log/log_line.h"
#include "log/trace.h"
#include "util/critical_section.h"
#include "util/system_error.h"
#include "util/text.h"

namespace {

// Room for the longest text an event carries (a property of up to 259
// characters); the instance ID is shorter still.
constexpr size_t EVENT_INSERT_SIZE = 260;
constexpr size_t COUNT_TEXT_SIZE = 16;
// An event's own strings at most, before the three that every event ends with.
constexpr size_t EVENT_OWN_STRINGS_MAX = HISTORY_EVENT_STRINGS;
constexpr size_t EVENT_COMMON_STRINGS = 3;

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

// An information event of texts that come from devices and their media:
// control characters become spaces, as in the device log.
template <size_t N>
void ReportTexts(DWORD dwEventId, const char* const (&apszStrings)[N])
{
    static_assert(N <= EVENT_OWN_STRINGS_MAX, "an event's own strings fit its report");
    char aszInserts[N][EVENT_INSERT_SIZE];
    const char* apszInserts[N];
    for (size_t i = 0; i < N; ++i) {
        CopyText(aszInserts[i], apszStrings[i]);
        ReplaceControlChars(aszInserts[i]);
        apszInserts[i] = aszInserts[i];
    }
    Report(EVENTLOG_INFORMATION_TYPE, dwEventId, apszInserts, N);
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

void ReportDeviceEvent(DWORD dwEventId, const char* const (&apszStrings)[DEVICE_EVENT_STRINGS])
{
    ReportTexts(dwEventId, apszStrings);
}

void ReportVolumeEvent(DWORD dwEventId, const char* const (&apszStrings)[VOLUME_EVENT_STRINGS])
{
    ReportTexts(dwEventId, apszStrings);
}

void ReportHistoryEvent(DWORD dwEventId, const char* const (&apszStrings)[HISTORY_EVENT_STRINGS])
{
    ReportTexts(dwEventId, apszStrings);
}

void ReportLostLines(DWORD dwCount)
{
    const CNumberText count(dwCount);
    const char* apszInserts[] = {count.get()};
    Report(EVENTLOG_WARNING_TYPE, EVENT_LINES_LOST, apszInserts, 1);
}

void ReportMonitoringStarted(const char* pszVersion, DWORD dwPresentDevices)
{
    const CNumberText count(dwPresentDevices);
    const char* apszInserts[] = {pszVersion, count.get()};
    Report(EVENTLOG_INFORMATION_TYPE, EVENT_MONITORING_STARTED, apszInserts, 2);
}

void ReportMonitoringStopped(const char* pszReason)
{
    const char* apszInserts[] = {pszReason};
    Report(EVENTLOG_INFORMATION_TYPE, EVENT_MONITORING_STOPPED, apszInserts, 1);
}

void ReportUncleanEnd(const char* pszRun, DWORD dwLastSequence)
{
    const CNumberText lastSequence(dwLastSequence);
    const char* apszInserts[] = {pszRun, lastSequence.get()};
    Report(EVENTLOG_WARNING_TYPE, EVENT_UNCLEAN_END, apszInserts, 2);
}

void ReportLogUnwritable(const char* pszPath, DWORD dwError)
{
    const CNumberText code(dwError);
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText, ErrorTextEnd::Dropped);
    const char* apszInserts[] = {pszPath, code.get(), szText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_LOG_UNWRITABLE, apszInserts, 3);
}

void ReportNotificationsFailed(DWORD dwError)
{
    const CNumberText code(dwError);
    char szText[ERROR_TEXT_SIZE];
    SystemErrorText(dwError, szText, ErrorTextEnd::Dropped);
    const char* apszInserts[] = {code.get(), szText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_NOTIFICATIONS_FAILED, apszInserts, 2);
}

void ReportServiceError(const char* pszText)
{
    const char* apszInserts[] = {pszText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_SERVICE_ERROR, apszInserts, 1);
}


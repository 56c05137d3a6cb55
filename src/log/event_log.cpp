#include "log/event_log.h"

#include "log/log_line.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/system_error.h"
#include "util/text.h"

namespace {

constexpr char APPLICATION_LOG_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr size_t SOURCE_KEY_SIZE = sizeof APPLICATION_LOG_KEY + sizeof EVENT_SOURCE_NAME;
constexpr DWORD EVENT_TYPES_SUPPORTED = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
// Room for the longest text an event carries (a property of up to 259
// characters); the instance ID is shorter still.
constexpr size_t EVENT_INSERT_SIZE = 260;
constexpr size_t COUNT_TEXT_SIZE = 16;

// Reports come from the window thread, the service thread and the control
// dispatcher's thread; one at a time, since a failed report reopens the
// source that the others use.
class CEventLock {
public:
    CEventLock() { InitializeCriticalSection(&m_cs); }
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};
CEventLock eventLock;

class CEventLocked {
public:
    CEventLocked() { eventLock.Enter(); }
    ~CEventLocked() { eventLock.Leave(); }
    CEventLocked(const CEventLocked&) = delete;
    CEventLocked& operator=(const CEventLocked&) = delete;
};

// Opened at the first report and kept, under the lock, until a report fails.
HANDLE hEventSource = nullptr;

HANDLE EventSource()
{
    if (hEventSource != nullptr) return hEventSource;
    hEventSource = RegisterEventSourceA(nullptr, EVENT_SOURCE_NAME);
    if (hEventSource == nullptr) {
        const DWORD dwError = GetLastError();
        Trace(1, "RegisterEventSourceA(%s) failed, Error=%lu", EVENT_SOURCE_NAME, dwError);
    }
    return hEventSource;
}

void Report(WORD wType, DWORD dwEventId, const char** apszStrings, WORD cStrings)
{
    CEventLocked locked;
    HANDLE hSource = EventSource();
    if (hSource == nullptr) return;
    if (pfnReportEventA(hSource, wType, 0, dwEventId, nullptr, cStrings, 0, apszStrings, nullptr)) return;
    DWORD dwError = GetLastError();
    Trace(1, "ReportEventA(%lu) failed, Error=%lu; registering the source again", dwEventId, dwError);
    DeregisterEventSource(hEventSource);
    hEventSource = nullptr;
    hSource = EventSource();
    if (hSource == nullptr) return;
    if (!pfnReportEventA(hSource, wType, 0, dwEventId, nullptr, cStrings, 0, apszStrings, nullptr)) {
        dwError = GetLastError();
        Trace(1, "ReportEventA(%lu) failed again, Error=%lu", dwEventId, dwError);
    }
}

// The system's text for an error, without the line end it comes with.
void ErrorInserts(DWORD dwError, char (&szCode)[COUNT_TEXT_SIZE], char (&szText)[ERROR_TEXT_SIZE])
{
    FormatText(szCode, "%lu", dwError);
    SystemErrorText(dwError, szText);
    for (size_t len = lstrlenA(szText); len > 0 && (szText[len - 1] == '\r' || szText[len - 1] == '\n' ||
                                                    szText[len - 1] == ' ');)
        szText[--len] = '\0';
}

void FormatSourceKey(char (&szKey)[SOURCE_KEY_SIZE])
{
    FormatText(szKey, "%s\\%s", APPLICATION_LOG_KEY, EVENT_SOURCE_NAME);
}

}  // namespace

ReportEventFunction pfnReportEventA = ReportEventA;

void ReportDeviceEvent(DWORD dwEventId, const char* const (&apszStrings)[DEVICE_EVENT_STRINGS])
{
    char aszInserts[DEVICE_EVENT_STRINGS][EVENT_INSERT_SIZE];
    const char* apszInserts[DEVICE_EVENT_STRINGS];
    for (size_t i = 0; i < DEVICE_EVENT_STRINGS; ++i) {
        CopyText(aszInserts[i], apszStrings[i]);
        ReplaceControlChars(aszInserts[i]);
        apszInserts[i] = aszInserts[i];
    }
    Report(EVENTLOG_INFORMATION_TYPE, dwEventId, apszInserts, static_cast<WORD>(DEVICE_EVENT_STRINGS));
}

void ReportLostLines(DWORD dwCount)
{
    char szCount[COUNT_TEXT_SIZE];
    FormatText(szCount, "%lu", dwCount);
    const char* apszInserts[] = {szCount};
    Report(EVENTLOG_WARNING_TYPE, EVENT_LINES_LOST, apszInserts, 1);
}

void ReportLogUnwritable(const char* pszPath, DWORD dwError)
{
    char szCode[COUNT_TEXT_SIZE];
    char szText[ERROR_TEXT_SIZE];
    ErrorInserts(dwError, szCode, szText);
    const char* apszInserts[] = {pszPath, szCode, szText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_LOG_UNWRITABLE, apszInserts, 3);
}

void ReportNotificationsFailed(DWORD dwError)
{
    char szCode[COUNT_TEXT_SIZE];
    char szText[ERROR_TEXT_SIZE];
    ErrorInserts(dwError, szCode, szText);
    const char* apszInserts[] = {szCode, szText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_NOTIFICATIONS_FAILED, apszInserts, 2);
}

void ReportServiceError(const char* pszText)
{
    const char* apszInserts[] = {pszText};
    Report(EVENTLOG_ERROR_TYPE, EVENT_SERVICE_ERROR, apszInserts, 1);
}

void RegisterEventLogSource(const char* pszMessageFile)
{
    char szKey[SOURCE_KEY_SIZE];
    FormatSourceKey(szKey);
    HKEY hKey = nullptr;
    LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, szKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (lError != ERROR_SUCCESS) {
        Trace(1, "RegisterEventLogSource: RegCreateKeyExA failed, Error=%ld", lError);
        return;
    }
    ScopedRegKey key(hKey);
    const DWORD cbMessageFile = static_cast<DWORD>(lstrlenA(pszMessageFile)) + 1;
    lError = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(pszMessageFile), cbMessageFile);
    if (lError != ERROR_SUCCESS) Trace(1, "RegisterEventLogSource: EventMessageFile not set, Error=%ld", lError);
    const DWORD dwTypes = EVENT_TYPES_SUPPORTED;
    lError = RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwTypes),
                            sizeof dwTypes);
    if (lError != ERROR_SUCCESS) Trace(1, "RegisterEventLogSource: TypesSupported not set, Error=%ld", lError);
}

void RemoveEventLogSource()
{
    char szKey[SOURCE_KEY_SIZE];
    FormatSourceKey(szKey);
    const LONG lError = RegDeleteKeyA(HKEY_LOCAL_MACHINE, szKey);
    if (lError != ERROR_SUCCESS && lError != ERROR_FILE_NOT_FOUND)
        Trace(1, "RemoveEventLogSource: RegDeleteKeyA failed, Error=%ld", lError);
}

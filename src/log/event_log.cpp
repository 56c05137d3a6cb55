#include "log/event_log.h"

#include "log/log_line.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

constexpr char APPLICATION_LOG_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr size_t SOURCE_KEY_SIZE = sizeof APPLICATION_LOG_KEY + sizeof EVENT_SOURCE_NAME;
constexpr DWORD EVENT_TYPES_SUPPORTED = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
// Room for the longest text an event carries (a property of up to 259
// characters); the instance ID is shorter still.
constexpr size_t EVENT_INSERT_SIZE = 260;
constexpr size_t COUNT_TEXT_SIZE = 16;

// Opened at the first report and kept for the life of the process. Reports
// may come from more than one thread: the first handle published wins.
HANDLE hEventSource = nullptr;

HANDLE EventSource()
{
    if (hEventSource != nullptr) return hEventSource;
    HANDLE hOpened = RegisterEventSourceA(nullptr, EVENT_SOURCE_NAME);
    if (hOpened == nullptr) {
        const DWORD dwError = GetLastError();
        Trace(1, "RegisterEventSourceA(%s) failed, Error=%lu", EVENT_SOURCE_NAME, dwError);
        return nullptr;
    }
    HANDLE hPublished = InterlockedCompareExchangePointer(&hEventSource, hOpened, nullptr);
    if (hPublished == nullptr) return hOpened;
    DeregisterEventSource(hOpened);
    return hPublished;
}

void Report(WORD wType, DWORD dwEventId, const char** apszStrings, WORD cStrings)
{
    HANDLE hSource = EventSource();
    if (hSource == nullptr) return;
    if (!ReportEventA(hSource, wType, 0, dwEventId, nullptr, cStrings, 0, apszStrings, nullptr)) {
        const DWORD dwError = GetLastError();
        Trace(1, "ReportEventA(%lu) failed, Error=%lu", dwEventId, dwError);
    }
}

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { RegCloseKey(h); }
};
using ScopedRegKey = ScopedHandle<RegKeyTraits>;

void FormatSourceKey(char (&szKey)[SOURCE_KEY_SIZE])
{
    FormatText(szKey, "%s\\%s", APPLICATION_LOG_KEY, EVENT_SOURCE_NAME);
}

}  // namespace

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

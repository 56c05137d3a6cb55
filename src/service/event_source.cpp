#include "service/event_source.h"

#include <windows.h>

#include "log/event_log.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

constexpr char APPLICATION_LOG_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
constexpr size_t SOURCE_KEY_SIZE = sizeof APPLICATION_LOG_KEY + sizeof EVENT_SOURCE_NAME;
constexpr DWORD EVENT_TYPES_SUPPORTED = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

void FormatSourceKey(char (&szKey)[SOURCE_KEY_SIZE])
{
    FormatText(szKey, "%s\\%s", APPLICATION_LOG_KEY, EVENT_SOURCE_NAME);
}

}  // namespace

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

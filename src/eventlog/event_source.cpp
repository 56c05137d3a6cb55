#include "eventlog/event_source.h"

#include <windows.h>

#include "plugtrail_product.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

static_assert(PLUGTRAIL_EVENT_TYPES_SUPPORTED ==
                  (EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE),
              "the source registers the types its events have");

}  // namespace

void RegisterEventLogSource(const char* pszMessageFile)
{
    HKEY hKey = nullptr;
    LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, PLUGTRAIL_EVENT_SOURCE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (lError != ERROR_SUCCESS) {
        TraceFailure("RegCreateKeyExA", PLUGTRAIL_EVENT_SOURCE_KEY, static_cast<DWORD>(lError));
        return;
    }
    ScopedRegKey key(hKey);
    const DWORD cbMessageFile = static_cast<DWORD>(lstrlenA(pszMessageFile)) + 1;
    lError = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(pszMessageFile), cbMessageFile);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", "EventMessageFile", static_cast<DWORD>(lError));
    const DWORD dwTypes = PLUGTRAIL_EVENT_TYPES_SUPPORTED;
    lError = RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwTypes),
                            sizeof dwTypes);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", "TypesSupported", static_cast<DWORD>(lError));
}

void RemoveEventLogSource()
{
    const LONG lError = RegDeleteKeyA(HKEY_LOCAL_MACHINE, PLUGTRAIL_EVENT_SOURCE_KEY);
    if (lError != ERROR_SUCCESS && lError != ERROR_FILE_NOT_FOUND)
        TraceFailure("RegDeleteKeyA", PLUGTRAIL_EVENT_SOURCE_KEY, static_cast<DWORD>(lError));
}

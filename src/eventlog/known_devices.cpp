#include "eventlog/known_devices.h"

#include "eventlog/event_log.h"
#include "eventlog/event_text.h"
#include "log/trace.h"
#include "util/system_error.h"

namespace {

// Kept open for the life of the process, as the run state's key is.
HKEY hKnownDevices = nullptr;
DWORD dwKnownCount = 0;
bool bKnownDevicesNew = false;
// A device that cannot be recorded is reported once per run: the first one.
volatile LONG lFailureReported = 0;

// pszInstanceId is null for a record found full at the start.
void ReportFailure(const char* pszInstanceId, LONG lError)
{
    if (InterlockedExchange(&lFailureReported, 1) != 0) return;
    char szError[ERROR_TEXT_SIZE] = "";
    if (lError != ERROR_SUCCESS) SystemErrorText(static_cast<DWORD>(lError), szError, ErrorTextEnd::Dropped);
    char szText[KNOWN_DEVICE_FAILURE_SIZE];
    FormatKnownDeviceFailure(szText, KNOWN_DEVICES_KEY, KNOWN_DEVICES_MAX, pszInstanceId, lError, szError);
    ReportServiceError(szText);
}

}  // namespace

RunStateResult OpenKnownDevices()
{
    InterlockedExchange(&lFailureReported, 0);
    const RunStateResult result = OpenProtectedKey(KNOWN_DEVICES_KEY, &hKnownDevices, &bKnownDevicesNew);
    DWORD cValues = 0;
    if (hKnownDevices != nullptr &&
        RegQueryInfoKeyA(hKnownDevices, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &cValues, nullptr,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS)
        dwKnownCount = cValues;
    return result;
}

bool KnownDevicesAreNew()
{
    return bKnownDevicesNew;
}

bool KnownDevicesOpen()
{
    return hKnownDevices != nullptr;
}

bool IsKnownDevice(const char* pszInstanceId)
{
    return hKnownDevices != nullptr &&
           RegQueryValueExA(hKnownDevices, pszInstanceId, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool RecordKnownDevice(const char* pszInstanceId, unsigned long long ullFirstSeen)
{
    if (hKnownDevices == nullptr) return false;
    if (dwKnownCount >= KNOWN_DEVICES_MAX) {
        Trace(1, "%s: %lu devices are remembered already, not recorded", pszInstanceId, dwKnownCount);
        ReportFailure(pszInstanceId, ERROR_SUCCESS);
        return false;
    }
    const LONG lError = RegSetValueExA(hKnownDevices, pszInstanceId, 0, REG_QWORD,
                                       reinterpret_cast<const BYTE*>(&ullFirstSeen), sizeof ullFirstSeen);
    if (lError != ERROR_SUCCESS) {
        TraceFailure("RegSetValueExA", pszInstanceId, static_cast<DWORD>(lError));
        ReportFailure(pszInstanceId, lError);
        return false;
    }
    ++dwKnownCount;
    return true;
}

void ReportKnownDevicesFull()
{
    if (hKnownDevices != nullptr && dwKnownCount >= KNOWN_DEVICES_MAX) ReportFailure(nullptr, ERROR_SUCCESS);
}

bool RecordKnownDeviceNow(const char* pszInstanceId)
{
    return RecordKnownDevice(pszInstanceId, FileTimeNow());
}

unsigned long long FileTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

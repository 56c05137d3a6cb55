#include "eventlog/known_devices.h"

#include "log/trace.h"

namespace {

// Kept open for the life of the process, as the run state's key is.
HKEY hKnownDevices = nullptr;
DWORD dwKnownCount = 0;
bool bKnownDevicesNew = false;

}  // namespace

RunStateResult OpenKnownDevices()
{
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
        return false;
    }
    const LONG lError = RegSetValueExA(hKnownDevices, pszInstanceId, 0, REG_QWORD,
                                       reinterpret_cast<const BYTE*>(&ullFirstSeen), sizeof ullFirstSeen);
    if (lError != ERROR_SUCCESS) {
        TraceFailure("RegSetValueExA", pszInstanceId, static_cast<DWORD>(lError));
        return false;
    }
    ++dwKnownCount;
    return true;
}

#include "device/approved_devices.h"

#include <windows.h>

#include "device/approved_list.h"
#include "eventlog/event_log.h"
#include "log/trace.h"
#include "plugtrail_product.h"
#include "util/scoped_handle.h"
#include "util/system_error.h"
#include "util/text.h"

namespace {

constexpr char POLICIES_KEY[] = "SOFTWARE\\Policies";
constexpr size_t COUNT_TEXT_SIZE = 16;
constexpr size_t BAD_INPUT_TEXT_SIZE = 1024;
constexpr unsigned long long FNV_OFFSET = 14695981039346656037ULL;
constexpr unsigned long long FNV_PRIME = 1099511628211ULL;

// What the policy held when it was last read. The list's entries point into
// the value's bytes. Explicitly in .bss: with a section per datum the
// toolchain would otherwise store their zeros in the executable.
char achValue[APPROVED_VALUE_BYTES] __attribute__((section(".bss")));
CApprovedList approved __attribute__((section(".bss")));
bool bInForce = false;
// Of what was read last; 0 before the first read.
unsigned long long ullDigest = 0;

// Told of changes under HKLM\SOFTWARE\Policies, where Group Policy writes:
// the value is read again only then. Without the watch it is read at every
// arrival. The arrival asks the event itself, set as the change is made: a
// flag that another thread set on its notice could come after the arrival.
HKEY hPolicies = nullptr;
HANDLE hChanged = nullptr;
bool bWatching = false;

unsigned long long Digest(unsigned long long ullHash, const void* pData, size_t cb)
{
    for (size_t i = 0; i < cb; ++i) ullHash = (ullHash ^ static_cast<const unsigned char*>(pData)[i]) * FNV_PRIME;
    return ullHash;
}

void Watch()
{
    bWatching = false;
    if (hChanged == nullptr) hChanged = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (hPolicies == nullptr) {
        const LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, POLICIES_KEY, 0, KEY_NOTIFY, &hPolicies);
        if (lError != ERROR_SUCCESS) {
            hPolicies = nullptr;
            TraceFailure("RegOpenKeyExA", POLICIES_KEY, static_cast<DWORD>(lError));
        }
    }
    if (hChanged == nullptr || hPolicies == nullptr) return;
    ResetEvent(hChanged);
    const LONG lError = RegNotifyChangeKeyValue(hPolicies, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                                hChanged, TRUE);
    bWatching = lError == ERROR_SUCCESS;
    if (!bWatching) TraceFailure("RegNotifyChangeKeyValue", POLICIES_KEY, static_cast<DWORD>(lError));
}

// The value as it is now. ERROR_FILE_NOT_FOUND where it (or its key) is not
// there; any other error is a value that cannot be read.
LONG ReadValue(DWORD* pdwType, DWORD* pcbData, const char** ppszCall)
{
    *pdwType = REG_NONE;
    *pcbData = 0;
    *ppszCall = "RegOpenKeyExA";
    HKEY hKey = nullptr;
    LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PLUGTRAIL_POLICY_KEY, 0, KEY_QUERY_VALUE, &hKey);
    if (lError != ERROR_SUCCESS) return lError;
    ScopedRegKey key(hKey);
    *ppszCall = "RegQueryValueExA";
    DWORD cb = sizeof achValue;
    lError = RegQueryValueExA(hKey, PLUGTRAIL_APPROVED_DEVICES_VALUE, nullptr, pdwType,
                              reinterpret_cast<BYTE*>(achValue), &cb);
    *pcbData = lError == ERROR_SUCCESS ? cb : 0;
    return lError;
}

void ReportBadInput(const char* pszProblem)
{
    char szText[BAD_INPUT_TEXT_SIZE];
    FormatText(szText, "The approved-device list HKLM\\%s\\%s has bad input: %s. Its valid entries are in force.",
               PLUGTRAIL_POLICY_KEY, PLUGTRAIL_APPROVED_DEVICES_VALUE, pszProblem);
    ReportServiceError(szText);
}

// Reads the policy; where it differs from what was read last, the list in
// force changes, and event 114 says so (and 122 what was wrong with it).
void ReadPolicy()
{
    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    const char* pszCall = nullptr;
    const LONG lError = ReadValue(&dwType, &cbData, &pszCall);
    unsigned long long ullNow = Digest(FNV_OFFSET, &lError, sizeof lError);
    ullNow = Digest(Digest(ullNow, &dwType, sizeof dwType), achValue, cbData);
    if (ullNow == ullDigest) return;
    ullDigest = ullNow;

    if (lError == ERROR_FILE_NOT_FOUND) {
        approved.Clear();
        const bool bWasInForce = bInForce;
        bInForce = false;
        if (bWasInForce) {
            const char* apszStrings[] = {"none", ""};
            ReportEvent(EVENT_APPROVED_LIST, apszStrings);
        }
        return;
    }
    bInForce = true;
    char szProblem[APPROVED_PROBLEM_TEXT_SIZE] = "";
    if (lError != ERROR_SUCCESS) {
        // A value that cannot be read approves nothing.
        approved.Clear();
        char szError[ERROR_TEXT_SIZE];
        SystemErrorText(static_cast<DWORD>(lError), szError, ErrorTextEnd::Dropped);
        FormatText(szProblem, "it cannot be read (%s, error %ld: %s), so no device is approved", pszCall, lError,
                   szError);
    } else if (dwType != REG_MULTI_SZ) {
        approved.Clear();
        FormatText(szProblem, "it is of type %lu, not REG_MULTI_SZ (7), so no device is approved", dwType);
    } else {
        approved.Load(achValue, cbData);
        approved.DescribeProblems(szProblem);
    }
    char szCount[COUNT_TEXT_SIZE];
    FormatText(szCount, "%u", static_cast<unsigned>(approved.Count()));
    char szList[APPROVED_LIST_TEXT_SIZE];
    approved.Describe(szList);
    const char* apszStrings[] = {szCount, szList};
    ReportEvent(EVENT_APPROVED_LIST, apszStrings);
    if (szProblem[0] != '\0') ReportBadInput(szProblem);
}

}  // namespace

void StartApprovedDevices()
{
    Watch();
    ReadPolicy();
}

void RefreshApprovedDevices()
{
    if (bWatching && WaitForSingleObject(hChanged, 0) == WAIT_TIMEOUT) return;
    // Watched again before it is read: a change while it is read is not lost.
    Watch();
    ReadPolicy();
}

bool IsApprovedDevice(const char* pszInstanceId)
{
    return !bInForce || approved.Approves(pszInstanceId);
}

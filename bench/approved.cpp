// What the approved-device list costs an arrival, in one process: with a
// list of 1,000 entries in force, none of which approves the device, the
// check an arrival makes (RefreshApprovedDevices: one look at the policy
// watch's event; IsApprovedDevice: the device's instance ID against every
// entry) beside the whole arrival as the window makes it (the lookup, then
// ReportDevice: events 100 and 113, the line, the saved sequence numbers),
// taking turns; beside them each half of the check alone. Then, apart, the
// re-read that follows a change of the policy (the 1,000 entries read,
// loaded and reported again in event 114), each after a change that is not
// timed, beside the value's bare read, and the list's loading and its
// description for the event, each alone. The policy value is written where Group Policy writes it, in the
// bench's throwaway prefix, and removed at the end.
//
//   bench_approved DEVICES ROUNDS REREADS exact|star|model
//
// The entries' shape: exact, the worst for entries without wildcards: each
// is the device's own ID with a suffix, so each comparison runs through the
// whole ID before it fails; star: each has the device's product, '?' for
// every digit of its vendor and '*' before a suffix, so the '*' is tried at
// every place of the serial; model: sticks of the device's own model with
// serials of their own, which fail at the serial's first character.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "bench_world.h"
#include "device/approved_devices.h"
#include "device/approved_list.h"
#include "device/device_info.h"
#include "device/device_report.h"
#include "eventlog/run_state.h"
#include "eventlog/event_log.h"
#include "log/device_log.h"
#include "plugtrail_product.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

namespace {

constexpr char kPoliciesKey[] = "SOFTWARE\\Policies";
constexpr char kRun[] = "2026-01-01T00:00:00Z";
constexpr int kEntries = static_cast<int>(APPROVED_ENTRIES_MAX);

// Every report's number, as the service saves it; the bench also counts them.
DWORD dwLastReport = 0;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Serials as a stick's look, twenty characters.
UsbDeviceSpec Spec(int n)
{
    char szId[64];
    std::snprintf(szId, sizeof szId, "USB\\VID_B0B0&PID_0004\\4C53000123061511%04d", n);
    UsbDeviceSpec spec;
    spec.instanceId = szId;
    spec.service = "USBSTOR";
    spec.friendlyName = "Bench stick " + std::to_string(n);
    spec.deviceDesc = "USB Mass Storage Device";
    spec.mfg = "Compatible USB storage device";
    return spec;
}

// The REG_MULTI_SZ value: 1,000 entries, none matching instanceId; with
// bVariant, the last entry differs, so that writing it is a change.
enum class Shape { Exact, Star, Model };

std::string PolicyValue(const std::string& instanceId, Shape shape, bool bVariant)
{
    std::string value;
    for (int i = 1; i <= kEntries; ++i) {
        char szEntry[APPROVED_ENTRY_MAX + 1];
        const int n = bVariant && i == kEntries ? 0 : i;
        if (shape == Shape::Star)
            std::snprintf(szEntry, sizeof szEntry, "USB\\VID_????&PID_0004\\*-%04d", n);
        else if (shape == Shape::Model)
            std::snprintf(szEntry, sizeof szEntry, "USB\\VID_B0B0&PID_0004\\AA0000000000000000%04d", n);
        else
            std::snprintf(szEntry, sizeof szEntry, "%s-%04d", instanceId.c_str(), n);
        value += szEntry;
        value += '\0';
    }
    value += '\0';
    return value;
}

bool WritePolicy(HKEY hKey, const std::string& value)
{
    return RegSetValueExA(hKey, PLUGTRAIL_APPROVED_DEVICES_VALUE, 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(value.data()), static_cast<DWORD>(value.size())) ==
           ERROR_SUCCESS;
}

bool KeyExists(const char* pszKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) return 2;
    const int devices = std::atoi(argv[1]);
    const int rounds = std::atoi(argv[2]);
    const int rereads = std::atoi(argv[3]);
    const char* const pszShape = argv[4];
    const Shape shape = std::strcmp(pszShape, "star") == 0    ? Shape::Star
                        : std::strcmp(pszShape, "model") == 0 ? Shape::Model
                                                              : Shape::Exact;
    if (devices < 1 || rounds < 1 || rereads < 1 || (shape == Shape::Exact && std::strcmp(pszShape, "exact") != 0))
        return 2;
    // A service's standard output, and so the lookup's report, goes nowhere.
    if (std::fclose(stdout) != 0) return 3;

    const auto present = MakePresent(devices, Spec);
    // The device that arrives is the last one made; its serial sorts last.
    const std::string path = present.back()->BroadcastPath();
    const std::string instanceId = Spec(devices - 1).instanceId;

    const HKEY hBench = OpenRunStateBeneathBenchKey(false);
    if (hBench == nullptr) return 4;
    BeginEventRun(kRun, [](DWORD dwSequence) {
        SaveLastSequence(dwSequence);
        dwLastReport = dwSequence;
    });

    // The policy, where Group Policy writes it; the key goes again at the
    // end where the bench made it.
    const bool bHadPolicies = KeyExists(kPoliciesKey);
    HKEY hPolicy = nullptr;
    DWORD dwDisposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, PLUGTRAIL_POLICY_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &hPolicy, &dwDisposition) != ERROR_SUCCESS)
        return 4;
    const std::string list = PolicyValue(instanceId, shape, false);
    const std::string changed = PolicyValue(instanceId, shape, true);
    bool bReady = WritePolicy(hPolicy, list);
    StartApprovedDevices();
    // The list is in force with all 1,000 entries: the device is not on it,
    // the last entry approves a device of its own, and the start reported
    // event 114 alone.
    char szLast[APPROVED_ENTRY_MAX + 1];
    if (shape == Shape::Model)
        std::snprintf(szLast, sizeof szLast, "USB\\VID_B0B0&PID_0004\\AA0000000000000000%04d", kEntries);
    else
        std::snprintf(szLast, sizeof szLast, "%s-%04d", instanceId.c_str(), kEntries);
    bReady = bReady && !IsApprovedDevice(instanceId.c_str()) && IsApprovedDevice(szLast) && dwLastReport == 1;

    std::vector<double> arrival, check, refresh, match;
    bool bApproved = false;
    for (int i = 0; i < rounds; ++i) {
        std::vector<char> arrived(path.begin(), path.end());
        arrived.push_back('\0');
        const TimedPart parts[] = {
            // As the window handles an arrival, without the store.
            {arrival, [&] {
                 DeviceFields fields = {};
                 InstanceIdFromInterfacePath(arrived.data(), fields.szInstanceId);
                 GetDeviceInfo(&kUsbDeviceInterfaceGuid, arrived.data(), fields);
                 ReportDevice(DeviceEvent::Attached, fields);
             }},
            {check, [&] {
                 RefreshApprovedDevices();
                 bApproved = IsApprovedDevice(instanceId.c_str()) || bApproved;
             }},
            {refresh, [] { RefreshApprovedDevices(); }},
            {match, [&] { bApproved = IsApprovedDevice(instanceId.c_str()) || bApproved; }},
        };
        TakeTurns(parts, i);
    }
    // Each arrival reported 100 and 113, and nothing else: no re-read.
    const bool bArrivalsAlone = !bApproved && dwLastReport == static_cast<DWORD>(1 + 2 * rounds);

    // The re-read after a change: the value written anew (not timed), then
    // the check that takes the change up, which reports 114.
    // Beside each, the value's bare read: the key opened, the value read
    // into a buffer of the product's size, the key closed.
    std::vector<double> reread, bareRead;
    std::vector<char> buffer(APPROVED_VALUE_BYTES);
    bool bEachReread = true;
    for (int i = 0; i < rereads; ++i) {
        const DWORD dwBefore = dwLastReport;
        bEachReread = WritePolicy(hPolicy, i % 2 == 0 ? changed : list) && bEachReread;
        double t = Now();
        RefreshApprovedDevices();
        reread.push_back(Now() - t);
        bEachReread = bEachReread && dwLastReport == dwBefore + 1;
        t = Now();
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PLUGTRAIL_POLICY_KEY, 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
            DWORD dwType = 0, cb = static_cast<DWORD>(buffer.size());
            RegQueryValueExA(hKey, PLUGTRAIL_APPROVED_DEVICES_VALUE, nullptr, &dwType,
                             reinterpret_cast<BYTE*>(buffer.data()), &cb);
            RegCloseKey(hKey);
        }
        bareRead.push_back(Now() - t);
    }
    // Of the re-read, the pure work on the value's bytes: the list loaded,
    // and described for its 114.
    std::vector<double> load, describe;
    static CApprovedList parsed;
    static char szDescribed[APPROVED_LIST_TEXT_SIZE];
    for (int i = 0; i < rereads; ++i) {
        double t = Now();
        parsed.Load(list.data(), list.size());
        load.push_back(Now() - t);
        t = Now();
        parsed.Describe(szDescribed);
        describe.push_back(Now() - t);
    }
    bReady = bReady && parsed.Count() == APPROVED_ENTRIES_MAX;

    RegDeleteValueA(hPolicy, PLUGTRAIL_APPROVED_DEVICES_VALUE);
    RegCloseKey(hPolicy);
    if (dwDisposition == REG_CREATED_NEW_KEY) RegDeleteKeyA(HKEY_LOCAL_MACHINE, PLUGTRAIL_POLICY_KEY);
    if (!bHadPolicies) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPoliciesKey);
    RegDeleteKeyA(hBench, RUN_STATE_KEY);
    RegDeleteKeyA(hBench, "SOFTWARE");
    RegCloseKey(hBench);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBenchKey);
    DeleteIfPresent(DEVICE_LOG_PATH);
    std::fprintf(stderr, "APPROVED|%d|%s|%d|%d|%.0f|%.1f|%.1f|%.1f|%.0f|%.0f|%.0f|%.0f\n", devices, pszShape,
                 rounds, rereads, Median(arrival), Median(check), Median(refresh), Median(match), Median(reread),
                 Median(bareRead), Median(load), Median(describe));
    if (!bReady) return 5;
    if (!bArrivalsAlone) return 6;
    return bEachReread ? 0 : 7;
}

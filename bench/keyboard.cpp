// A keyboard's arrival as the window hands it on (OnKeyboardArrival: the
// lookup of the keyboard and of its USB device, the join to the store, the
// decision on "new" and event 109 with its console user and saved sequence
// number) beside the bare platform calls of the same work, in one process,
// taking turns: the keyboard lookup's SetupDi and device-tree calls, then
// the event's (the console user's WTS calls, ReportEventA of 14 strings,
// one REG_DWORD written). Two keyboards: one whose USB device the store holds
// (joined by vendor and product, as under Wine, where the tree cannot be
// walked), and one without a USB device, known by its own ID from the
// Devices key (one RegQueryValueExA more on both sides). Beside them, the
// lookup alone against its bare calls, and the event's bare calls alone.
//
//   bench_keyboard KEYBOARDS STORED ROUNDS
//
// KEYBOARDS: keyboards present, Wine's own included (at least 3); STORED:
// USB devices in the store (at least 1, at most the store's slots).
#include <windows.h>

#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bare_lookup.h"
#include "bench_clock.h"
#include "bench_world.h"
#include "device/device_change.h"
#include "device/device_info.h"
#include "device/device_store.h"
#include "device/keyboard_change.h"
#include "eventlog/event_log.h"
#include "eventlog/known_devices.h"
#include "eventlog/run_state.h"
#include "support/simulated_usb.h"

namespace {

// The bench's own key and event source, as in bench_inproc: the product's
// run state and its Devices key open beneath the key, through HKLM mapped
// to it while they are opened.
constexpr char kBenchSource[] = "PlugtrailBench";
constexpr char kSequenceValue[] = "Sequence";
constexpr char kRun[] = "2026-01-01T00:00:00Z";
constexpr WORD kKeyboardStrings = 14;  // event 109: 11 of its own and the common three

// The two keyboards looked up; their paths sort after the others', so they
// are listed last. The first one's USB device is in the store.
constexpr char kJoinedKeyboard[] = "HID\\VID_B0B1&PID_0001\\7&1&0&0000";
constexpr char kJoinedUsbDevice[] = "USB\\VID_B0B1&PID_0001\\KBD0001";
constexpr char kOwnKeyboard[] = "HID\\VID_B0B2&PID_0001\\7&2&0&0000";

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

DeviceFields StoredDevice(const char* pszInstanceId)
{
    DeviceFields fields = {};
    std::strcpy(fields.szService, "HidUsb");
    std::strcpy(fields.szTypeName, "HidUsb");
    std::strcpy(fields.szFriendlyName, "Bench receiver");
    std::strcpy(fields.szDeviceDesc, "USB Input Device");
    std::strcpy(fields.szMfg, "(Standard system devices)");
    std::strcpy(fields.szInstanceId, pszInstanceId);
    return fields;
}

// The console user's read as the platform offers it: the console's session,
// its user and its domain.
void BareConsoleUser(char (&szUser)[128])
{
    szUser[0] = '\0';
    const DWORD dwSession = WTSGetActiveConsoleSessionId();
    char* pszUser = nullptr;
    char* pszDomain = nullptr;
    DWORD cb = 0;
    if (WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, dwSession, WTSUserName, &pszUser, &cb) &&
        WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, dwSession, WTSDomainName, &pszDomain, &cb))
        std::snprintf(szUser, sizeof szUser, "%s\\%s", pszDomain, pszUser);
    if (pszUser != nullptr) WTSFreeMemory(pszUser);
    if (pszDomain != nullptr) WTSFreeMemory(pszDomain);
}

// What reporting one event costs the platform: the console user, the event
// and its sequence number written to an open key.
void BareEvent(HANDLE hSource, HKEY hKey, WORD wType, const char* pszKeyboard, DWORD dwSequence)
{
    char szUser[128];
    BareConsoleUser(szUser);
    char szSequence[16];
    std::snprintf(szSequence, sizeof szSequence, "%lu", dwSequence);
    const char* apszStrings[kKeyboardStrings] = {
        "HidUsb", "Bench receiver", "USB Input Device", "(Standard system devices)", kJoinedUsbDevice, "B0B1", "0001",
        "KBD0001", pszKeyboard, "Bench keyboard", "yes", szUser, szSequence, kRun};
    ReportEventA(hSource, wType, 0, EVENT_KEYBOARD_ATTACHED, nullptr, kKeyboardStrings, 0, apszStrings, nullptr);
    RegSetValueExA(hKey, kSequenceValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSequence),
                   sizeof dwSequence);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) return 2;
    const int keyboards = std::atoi(argv[1]);
    const int stored = std::atoi(argv[2]);
    const int rounds = std::atoi(argv[3]);
    if (keyboards < 3 || stored < 1 || stored > DEVICE_STORE_SLOTS || rounds < 1) return 2;
    // A service's standard output goes nowhere.
    if (std::fclose(stdout) != 0) return 3;

    // Wine's own keyboard is present already; the others sort before the two
    // looked up.
    std::vector<std::unique_ptr<SimulatedUsbDevice>> present;
    auto plant = [&](const std::string& id) {
        present.push_back(std::make_unique<SimulatedUsbDevice>(
            UsbDeviceSpec{id, "kbdhid", "", "Bench keyboard", "", ""}, kKeyboardInterfaceGuid));
        present.back()->SetPresent(true);
        return present.back()->BroadcastPath();
    };
    for (int i = 0; i < keyboards - 3; ++i) {
        char szId[64];
        std::snprintf(szId, sizeof szId, "HID\\VID_B0B0&PID_%04X\\7&0&0&0000", i);
        plant(szId);
    }
    const std::string joinedPath = plant(kJoinedKeyboard);
    const std::string ownPath = plant(kOwnKeyboard);

    // The store: other USB devices, and last the joined keyboard's, which
    // came with this attachment (its 108 came), so the keyboard is new.
    pDeviceStore = CreateDeviceStore();
    if (pDeviceStore == nullptr) return 4;
    for (int i = 0; i < stored - 1; ++i) {
        char szId[64], szPath[128];
        std::snprintf(szId, sizeof szId, "USB\\VID_B0B0&PID_0005\\STORE%d", i);
        std::snprintf(szPath, sizeof szPath,
                      "\\\\?\\usb#vid_b0b0&pid_0005#store%d#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", i);
        pDeviceStore->AddDevice(szPath, StoredDevice(szId));
    }
    constexpr char kJoinedUsbPath[] = "\\\\?\\usb#vid_b0b1&pid_0001#kbd0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
    pDeviceStore->AddDevice(kJoinedUsbPath, StoredDevice(kJoinedUsbDevice));
    pDeviceStore->NoteFirstSeen(kJoinedUsbPath);

    const HKEY hBench = OpenRunStateBeneathBenchKey(true);
    if (hBench == nullptr) return 4;
    BeginEventRun(kRun, [](DWORD dwSequence) { SaveLastSequence(dwSequence); });
    HANDLE hSource = RegisterEventSourceA(nullptr, kBenchSource);
    HKEY hDevices = nullptr;
    if (hSource == nullptr || !KnownDevicesOpen() ||
        RegOpenKeyExA(hBench, KNOWN_DEVICES_KEY, 0, KEY_QUERY_VALUE, &hDevices) != ERROR_SUCCESS)
        return 4;

    // Both are found, the first joins its USB device, and the second is
    // recorded by its own ID on its first arrival (not timed): from then on
    // it is known.
    KeyboardFacts facts;
    bool bReady = GetKeyboardInfo(joinedPath.c_str(), facts) && std::strcmp(facts.szInstanceId, kJoinedKeyboard) == 0 &&
                  pDeviceStore->FindOnlyByUsbIds("B0B1", "0001") == stored - 1 &&
                  GetKeyboardInfo(ownPath.c_str(), facts) && std::strcmp(facts.szInstanceId, kOwnKeyboard) == 0;
    OnKeyboardArrival(joinedPath.c_str());
    OnKeyboardArrival(ownPath.c_str());
    bReady = bReady && IsKnownDevice(kOwnKeyboard);
    DWORD dwBareSequence = 0;

    std::vector<double> arrivalJoined, floorJoined, arrivalOwn, floorOwn, lookup, bareLookup, bareEvent;
    for (int i = 0; i < rounds; ++i) {
        // The bare lookups lower-case their copy in place.
        std::vector<char> joinedCopy(joinedPath.begin(), joinedPath.end()), ownCopy(ownPath.begin(), ownPath.end()),
            lookupCopy(joinedPath.begin(), joinedPath.end());
        joinedCopy.push_back('\0');
        ownCopy.push_back('\0');
        lookupCopy.push_back('\0');
        const TimedPart parts[] = {
            {arrivalJoined, [&] { OnKeyboardArrival(joinedPath.c_str()); }},
            {floorJoined, [&] {
                 BareKeyboardLookup(&kKeyboardInterfaceGuid, joinedCopy.data());
                 BareEvent(hSource, hBench, EVENTLOG_WARNING_TYPE, kJoinedKeyboard, ++dwBareSequence);
             }},
            {arrivalOwn, [&] { OnKeyboardArrival(ownPath.c_str()); }},
            {floorOwn, [&] {
                 BareKeyboardLookup(&kKeyboardInterfaceGuid, ownCopy.data());
                 RegQueryValueExA(hDevices, kOwnKeyboard, nullptr, nullptr, nullptr, nullptr);
                 BareEvent(hSource, hBench, EVENTLOG_INFORMATION_TYPE, kOwnKeyboard, ++dwBareSequence);
             }},
            {lookup, [&] { GetKeyboardInfo(joinedPath.c_str(), facts); }},
            {bareLookup, [&] { BareKeyboardLookup(&kKeyboardInterfaceGuid, lookupCopy.data()); }},
            {bareEvent, [&] { BareEvent(hSource, hBench, EVENTLOG_WARNING_TYPE, kJoinedKeyboard, ++dwBareSequence); }},
        };
        TakeTurns(parts, i);
    }
    // Every arrival reported its one event and saved its number (the bare
    // calls write theirs to the bench's key itself).
    const bool bReported = LoadPreviousRun().dwLastSequence == static_cast<DWORD>(2 + 2 * rounds);

    RegCloseKey(hDevices);
    DeregisterEventSource(hSource);
    RegDeleteKeyA(hBench, KNOWN_DEVICES_KEY);
    RegDeleteKeyA(hBench, RUN_STATE_KEY);
    RegDeleteKeyA(hBench, "SOFTWARE");
    RegCloseKey(hBench);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBenchKey);
    std::fprintf(stderr, "KEYBOARD|%d|%d|%d|%.0f|%.0f|%.0f|%.0f|%.0f|%.0f|%.0f\n", keyboards, stored, rounds,
                 Median(arrivalJoined), Median(floorJoined), Median(arrivalOwn), Median(floorOwn), Median(lookup),
                 Median(bareLookup), Median(bareEvent));
    if (!bReady) return 5;
    return bReported ? 0 : 6;
}

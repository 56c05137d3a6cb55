// Plugtrail's own device code against the bare platform calls, in one
// process, taking turns on the same device: GetDeviceInfo against the calls a
// lookup needs, LogDevice and the whole removal (ReportDevice: the line,
// event 101 and the saved sequence number) against appending a fixed line.
// Beside them, the calls a removal adds to its line, each bare: ReportEventA
// of an 11-string event on an open source, the console user's read, and one
// REG_DWORD written to an open key. What is left over is the program's own
// work, without the noise of message delivery between processes; for the
// removal, also per round, beyond its line and those three calls. Last,
// LogDevice while another program holds the log, when its lines wait.
//
//   bench_inproc DEVICES ROUNDS [nul]
#include <windows.h>

#include <setupapi.h>

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
#include "device/device_identity.h"
#include "device/device_info.h"
#include "device/device_report.h"
#include "device/volume_change.h"
#include "eventlog/console_user.h"
#include "log/device_log.h"
#include "eventlog/event_log.h"
#include "eventlog/run_state.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"
#include "support/wine_drive.h"
#include "util/text.h"

namespace {

constexpr char kFloorLog[] = "C:\\_bench_inproc_floor.log";
const char kLine[] = "01.01.2026 - 00:00:00  USB storage device removed: 'Stick' / 'Disk' / 'Maker'\r\n";
// The bench's own key and event source: an installed service owns
// HKLM\SOFTWARE\Plugtrail, and a collector takes events of the product's
// source for real removals.
constexpr char kBenchSource[] = "PlugtrailBench";
constexpr char kSequenceValue[] = "Sequence";
constexpr char kRun[] = "2026-01-01T00:00:00Z";
constexpr WORD kEventStrings = 11;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

UsbDeviceSpec Spec(int n)
{
    UsbDeviceSpec spec;
    spec.instanceId = "USB\\VID_B0B0&PID_0003\\INPROC" + std::to_string(n);
    spec.service = "USBSTOR";
    spec.friendlyName = "Bench stick " + std::to_string(n);
    spec.deviceDesc = "USB Mass Storage Device";
    spec.mfg = "Compatible USB storage device";
    return spec;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) return 2;
    const int devices = std::atoi(argv[1]);
    const int rounds = std::atoi(argv[2]);
    // The lookup's enumeration report goes where a service's goes, nowhere,
    // or with "nul" to the NUL device, as a program's does when its output is
    // thrown away.
    const bool bNul = argc == 4 && std::strcmp(argv[3], "nul") == 0;
    if (bNul ? std::freopen("NUL", "w", stdout) == nullptr : std::fclose(stdout) != 0) return 3;

    const auto present = MakePresent(devices, Spec);
    // The device looked up is the last one enumerated.
    const std::string path = present.back()->BroadcastPath();
    const std::string instanceId = Spec(devices - 1).instanceId;
    UsbIdentity identity;
    ParseUsbIdentity(instanceId.c_str(), CAPABILITIES_UNKNOWN, identity);

    const HKEY hBench = OpenRunStateBeneathBenchKey(false);
    if (hBench == nullptr) return 4;
    BeginEventRun(kRun, [](DWORD dwSequence) { SaveLastSequence(dwSequence); });
    HANDLE hSource = RegisterEventSourceA(nullptr, kBenchSource);
    if (hSource == nullptr) return 4;
    char szUser[CONSOLE_USER_SIZE];
    ReadConsoleUser(szUser);

    std::vector<double> product, bare, log, append, removal, event, user, regWrite;
    for (int i = 0; i < rounds; ++i) {
        std::vector<char> a(path.begin(), path.end()), b(path.begin(), path.end());
        a.push_back('\0');
        b.push_back('\0');
        char szService[DEVINFO_TEXT_SIZE] = "", szType[DEVINFO_TYPENAME_SIZE] = "", szFriendly[DEVINFO_TEXT_SIZE] = "",
             szDesc[DEVINFO_TEXT_SIZE] = "", szMfg[DEVINFO_TEXT_SIZE] = "";
        // The two take turns at going first.
        if (i % 2 != 0) {
            const double t = Now();
            BareLookup<NoTimer>(&kUsbDeviceInterfaceGuid, b.data());
            bare.push_back(Now() - t);
        }
        double t0 = Now();
        GetDeviceInfo(&kUsbDeviceInterfaceGuid, a.data(), szService, szType, szFriendly, szDesc, szMfg);
        double t1 = Now();
        product.push_back(t1 - t0);
        if (i % 2 == 0) {
            BareLookup<NoTimer>(&kUsbDeviceInterfaceGuid, b.data());
            bare.push_back(Now() - t1);
        }

        // The removal, its line alone, and the calls it adds to the line.
        DeviceFields fields;
        CopyText(fields.szService, szService);
        CopyText(fields.szTypeName, szType);
        CopyText(fields.szFriendlyName, szFriendly);
        CopyText(fields.szDeviceDesc, szDesc);
        CopyText(fields.szMfg, szMfg);
        CopyText(fields.szInstanceId, instanceId.c_str());
        const DWORD dwSequence = static_cast<DWORD>(i + 1);
        char szSequence[16];
        std::snprintf(szSequence, sizeof szSequence, "%lu", dwSequence);
        // The device's eight strings and the three every event ends with.
        const char* apszStrings[kEventStrings] = {
            szType, szFriendly, szDesc, szMfg, instanceId.c_str(),
            identity.szVendorId, identity.szProductId, identity.szSerial, szUser, szSequence, kRun};
        const TimedPart parts[] = {
            {append, [] { AppendFixedLine<NoTimer>(kFloorLog, kLine); }},
            {log, [&] { LogDevice("%s device %s: '%s' / '%s' / '%s'", szType, "removed", szFriendly, szDesc, szMfg); }},
            {removal, [&] { ReportDevice(DeviceEvent::Removed, fields); }},
            {event, [&] {
                 ReportEventA(hSource, EVENTLOG_INFORMATION_TYPE, 0, EVENT_DEVICE_REMOVED, nullptr, kEventStrings, 0,
                              apszStrings, nullptr);
             }},
            {user, [&] { ReadConsoleUser(szUser); }},
            {regWrite, [&] {
                 RegSetValueExA(hBench, kSequenceValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwSequence),
                                sizeof dwSequence);
             }},
        };
        // Under Wine the first file opened after a lookup costs about 0.1 ms
        // more, whichever file it is; an append that is not timed takes it.
        AppendFixedLine<NoTimer>(kFloorLog, kLine);
        TakeTurns(parts, i);
    }
    // What the removal spends beyond its line and the three calls, round by
    // round: the program's own work around them.
    std::vector<double> rest;
    for (size_t j = 0; j < removal.size(); ++j) rest.push_back(removal[j] - log[j] - event[j] - user[j] - regWrite[j]);
    // While another program holds the log, a line waits in memory instead:
    // the device event does not wait for the file.
    std::vector<double> held;
    {
        HANDLE hHolder = CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        for (int i = 0; i < rounds; ++i) {
            const double t = Now();
            LogDevice("%s device %s: '%s' / '%s' / '%s'", "USB storage", "removed", "Stick", "Disk", "Maker");
            held.push_back(Now() - t);
        }
        CloseHandle(hHolder);
        theDeviceLog.DiscardBacklog();
    }
    // Every removal saved its sequence number.
    const bool bSaved = LoadPreviousRun().dwLastSequence == static_cast<DWORD>(rounds);
    // A volume's arrival as the volume thread handles it (its facts read, the
    // try for its USB device, the table, event 104), beside the two calls
    // that read what it reports, bare; the two take turns at going first, and
    // a removal between arrivals frees the letter.
    std::vector<double> volumeArrival, volumeCalls;
    constexpr char kLetter = 'V';
    if (DefineDrive(kLetter, DRIVE_REMOVABLE, "BENCH", "4C530001")) {
        for (int i = 0; i < rounds; ++i) {
            for (int k = 0; k < 2; ++k) {
                const double t = Now();
                if ((i + k) % 2 == 0) {
                    HandleVolumeChange({VolumeChange::Arrived, kLetter, false, ""});
                    volumeArrival.push_back(Now() - t);
                } else {
                    char szLabel[MAX_PATH + 1], szFileSystem[MAX_PATH + 1];
                    DWORD dwSerial = 0, cchComponent = 0, dwFlags = 0;
                    ULARGE_INTEGER cbTotal = {};
                    GetVolumeInformationA("V:\\", szLabel, sizeof szLabel, &dwSerial, &cchComponent, &dwFlags,
                                          szFileSystem, sizeof szFileSystem);
                    GetDiskFreeSpaceExA("V:\\", nullptr, &cbTotal, nullptr);
                    volumeCalls.push_back(Now() - t);
                }
            }
            HandleVolumeChange({VolumeChange::Removed, kLetter, false, ""});
        }
        RemoveDrive(kLetter);
    }
    DeregisterEventSource(hSource);
    RegDeleteKeyA(hBench, RUN_STATE_KEY);
    RegDeleteKeyA(hBench, "SOFTWARE");
    RegCloseKey(hBench);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kBenchKey);
    DeleteIfPresent(kFloorLog);
    DeleteIfPresent(DEVICE_LOG_PATH);
    std::fprintf(stderr, "INPROC|%d%s|%d|%.0f|%.0f|%.1f|%.1f|%.1f|%.1f|%.1f|%.1f|%.1f|%.1f|%.1f|%.1f\n", devices,
                 bNul ? " (report to NUL)" : "", rounds, Median(product), Median(bare), Median(log), Median(append),
                 Median(removal), Median(event), Median(user), Median(regWrite), Median(rest), Median(held),
                 Median(volumeArrival), Median(volumeCalls));
    return bSaved ? 0 : 5;
}

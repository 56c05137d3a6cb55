// Plugtrail's own device code against the bare platform calls, in one
// process, taking turns on the same device: GetDeviceInfo against the calls a
// lookup needs, LogDevice against appending a fixed line. What is left over
// is the program's own work, without the noise of message delivery between
// processes.
//
//   bench_inproc DEVICES ROUNDS [nul]
#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bare_lookup.h"
#include "bench_clock.h"
#include "device/device_info.h"
#include "log/device_log.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

namespace {

constexpr char kFloorLog[] = "C:\\_bench_inproc_floor.log";
const char kLine[] = "01.01.2026 - 00:00:00  USB storage device removed: 'Stick' / 'Disk' / 'Maker'\r\n";

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

    std::vector<std::unique_ptr<SimulatedUsbDevice>> present;
    for (int i = 0; i < devices; ++i) {
        present.push_back(std::make_unique<SimulatedUsbDevice>(Spec(i)));
        present.back()->SetPresent(true);
    }
    // The device looked up is the last one enumerated.
    const std::string path = present.back()->BroadcastPath();

    std::vector<double> product, bare, log, append;
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

        if (i % 2 != 0) {
            const double t = Now();
            AppendFixedLine<NoTimer>(kFloorLog, kLine);
            append.push_back(Now() - t);
        }
        t0 = Now();
        LogDevice("%s device %s: '%s' / '%s' / '%s'", szType, "removed", szFriendly, szDesc, szMfg);
        t1 = Now();
        log.push_back(t1 - t0);
        if (i % 2 == 0) {
            AppendFixedLine<NoTimer>(kFloorLog, kLine);
            append.push_back(Now() - t1);
        }
    }
    DeleteIfPresent(kFloorLog);
    DeleteIfPresent(DEVICE_LOG_PATH);
    std::fprintf(stderr, "INPROC|%d%s|%d|%.0f|%.0f|%.1f|%.1f\n", devices, bNul ? " (report to NUL)" : "", rounds,
                 Median(product), Median(bare), Median(log), Median(append));
    return 0;
}

// Start-up of the installed service with USB devices present: the time from
// StartServiceA until the service reports SERVICE_RUNNING, for Plugtrail and
// for bench_unseeded (the same program without its start-up seed), taking
// turns on the same service entry. Beside it, in this process, the seed
// itself against its bare platform calls: one pass over the present
// interfaces with the properties of each, what the seed should cost.
//
//   bench_startup [ROUNDS] [DEVICES,...]      defaults: 5 and 10,100,200
//
// Runs from the bench build folder: ..\Plugtrail.exe installs the service,
// bench_unseeded.exe sits beside this program.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bare_lookup.h"
#include "bench_clock.h"
#include "device/device_info.h"
#include "device/device_store.h"
#include "support/processes.h"
#include "support/service_process.h"
#include "support/simulated_usb.h"

namespace {

constexpr char kServiceName[] = "Plugtrail";
constexpr DWORD kStateTimeoutMs = 30000;

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what + ", error " + std::to_string(GetLastError()));
}

DWORD RunPlugtrail(const char* pszOption)
{
    ChildProcess child("..\\Plugtrail.exe", pszOption);
    return child.Started() ? child.Wait(60000) : 0xFFFFFFFF;
}

DWORD State(SC_HANDLE hService)
{
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(hService, &status)) Fail("QueryServiceStatus");
    return status.dwCurrentState;
}

// Polls every 10 ms, lightly: each query is a round trip through the wineserver,
// which the starting service needs for its own calls. Returns the microseconds
// since t0 when the state is reached.
double WaitForState(SC_HANDLE hService, DWORD dwState, double t0)
{
    while (State(hService) != dwState) {
        if (Now() - t0 > kStateTimeoutMs * 1000.0) Fail("service state " + std::to_string(dwState) + " not reached");
        Sleep(10);
    }
    return Now() - t0;
}

// Stops the service and waits until its process has gone.
void Stop(SC_HANDLE hService)
{
    WatchedProcess process(ServiceProcessId(kServiceName));
    SERVICE_STATUS status = {};
    if (!ControlService(hService, SERVICE_CONTROL_STOP, &status)) Fail("ControlService STOP");
    WaitForState(hService, SERVICE_STOPPED, Now());
    for (int i = 0; i < 3000 && process.Alive(); ++i) Sleep(10);
}

double TimedStart(SC_HANDLE hService, const std::string& imagePath)
{
    if (!ChangeServiceConfigA(hService, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, imagePath.c_str(),
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        Fail("ChangeServiceConfigA");
    const double t0 = Now();
    if (!StartServiceA(hService, 0, nullptr)) Fail("StartServiceA");
    const double us = WaitForState(hService, SERVICE_RUNNING, t0);
    // The service reports RUNNING just before its loop makes the thread's
    // message queue; a stop posted before that would be lost.
    Sleep(300);
    Stop(hService);
    return us;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int Run(int rounds, const std::vector<int>& rows)
{
    if (RunPlugtrail("-silentinstall") != 1) Fail("Plugtrail -silentinstall");
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE hService = hScm ? OpenServiceA(hScm, kServiceName, SERVICE_ALL_ACCESS) : nullptr;
    if (hService == nullptr) Fail("OpenServiceA");
    std::vector<BYTE> config(8192);
    DWORD cbNeeded = 0;
    if (!QueryServiceConfigA(hService, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data()),
                             static_cast<DWORD>(config.size()), &cbNeeded))
        Fail("QueryServiceConfigA");
    const std::string paths[2] = {reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data())->lpBinaryPathName,
                                  "\"" + ExeDirectory() + "bench_unseeded.exe\""};
    // -SilentInstall returns once the service is started, not running: a
    // service that starts takes no stop (ERROR_INVALID_SERVICE_CONTROL).
    WaitForState(hService, SERVICE_RUNNING, Now());
    Sleep(300);
    Stop(hService);

    std::printf("| Devices present | Rounds | Seeded: median / min (ms) | Not seeded: median / min (ms) | Difference "
                "of medians / of minima (ms) | In one process: seed / bare pass, median (ms) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    std::vector<std::unique_ptr<SimulatedUsbDevice>> devices;
    for (int present : rows) {
        while (static_cast<int>(devices.size()) < present) {
            const std::string n = std::to_string(devices.size());
            devices.push_back(std::make_unique<SimulatedUsbDevice>(
                UsbDeviceSpec{"USB\\VID_B0B0&PID_0004\\START" + n, "USBSTOR", "Bench stick " + n,
                              "USB Mass Storage Device", "Compatible USB storage device", ""}));
            devices.back()->SetPresent(true);
        }
        // The first starts after the devices have changed are slower, for
        // both; one of each is not counted.
        for (const std::string& path : paths) TimedStart(hService, path);
        std::vector<double> times[2], seed, pass;
        for (int r = 0; r < rounds; ++r) {
            // Each goes first in turn, so neither always meets a freshly changed registry.
            for (int k = 0; k < 2; ++k) {
                const int variant = (r + k) % 2;
                times[variant].push_back(TimedStart(hService, paths[variant]));
            }
            // In this process, taking turns, each a little apart from the starts.
            for (int k = 0; k < 2; ++k) {
                Sleep(500);
                auto store = std::make_unique<CDeviceInfoStore>();
                const double t0 = Now();
                if ((r + k) % 2 == 0) {
                    SeedDeviceStore(*store);
                    seed.push_back(Now() - t0);
                    int stored = 0;
                    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) stored += store->Record(i).szDevicePath[0] != '\0';
                    if (stored != std::min(present, DEVICE_STORE_SLOTS)) Fail("seed stored " + std::to_string(stored));
                } else {
                    BareLookup<NoTimer>(&kUsbDeviceInterfaceGuid, nullptr);
                    pass.push_back(Now() - t0);
                }
            }
        }
        const auto minimum = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
        std::printf("| %d | %d | %.0f / %.0f | %.0f / %.0f | %.0f / %.0f | %.0f / %.0f |\n", present, rounds,
                    Median(times[0]) / 1000, minimum(times[0]) / 1000, Median(times[1]) / 1000,
                    minimum(times[1]) / 1000, (Median(times[0]) - Median(times[1])) / 1000,
                    (minimum(times[0]) - minimum(times[1])) / 1000, Median(seed) / 1000, Median(pass) / 1000);
    }

    ChangeServiceConfigA(hService, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, paths[0].c_str(),
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    CloseServiceHandle(hService);
    CloseServiceHandle(hScm);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::vector<int> rows{10, 100, 200};
    if (argc > 2) {
        rows.clear();
        for (const char* p = argv[2]; *p;) {
            char* end = nullptr;
            rows.push_back(static_cast<int>(std::strtol(p, &end, 10)));
            p = *end == ',' ? end + 1 : end;
            if (end == p) break;
        }
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    int status = 1;
    try {
        status = Run(rounds, rows);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_startup: %s\n", e.what());
    }
    RunPlugtrail("-silentuninstall");
    return status;
}

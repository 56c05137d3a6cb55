// Plays storms of device events to the installed Plugtrail service and to the
// two floor windows (bench_floor append / lookup), and prints what each event
// cost. Only the SendMessageTimeoutA round trips are timed; making, plugging
// and unplugging the simulated devices happens between them.
//
//   bench_driver PLUGTRAIL.EXE BENCH_FLOOR.EXE [--pairs N] [--rows 10,100,200:200]
//                [--soak EVENTS] [--idle SECONDS] [--retries ROUNDS]
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_clock.h"
#include "floor_protocol.h"
#include "support/device_broadcast.h"
#include "support/plugtrail_window.h"
#include "support/service_process.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

namespace {

constexpr char kServiceName[] = "Plugtrail";
constexpr char kDeviceLog[] = "C:\\_UsbDevices.log";
constexpr char kAppendFloorLog[] = "C:\\_bench_append_floor.log";
constexpr char kLookupFloorLog[] = "C:\\_bench_lookup_floor.log";

struct Options {
    std::string plugtrail;
    std::string floor;
    int pairs = 1000;
    // Devices present for each storm, and how many pairs that storm plays
    // (0: --pairs). Wine's SetupDi lists grow slower than linearly in cost,
    // so the largest storm is shorter.
    std::vector<std::pair<int, int>> rows{{10, 0}, {100, 0}, {200, 200}};
    int soakEvents = 10000;
    int idleSeconds = 60;
    int retryRounds = 10;
};

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

DWORD RunAndWait(const std::string& exe, const std::string& args, DWORD dwMs = 60000)
{
    std::string cmd = "\"" + exe + "\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        Fail("cannot start " + exe);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(pi.hProcess, dwMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

// A floor window process; closed and waited for when it goes.
class Floor {
public:
    Floor(const std::string& exe, const char* pszMode, const char* pszLog, const char* pszTitle)
    {
        std::string cmd = "\"" + exe + "\" " + pszMode + " " + pszLog;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi))
            Fail("cannot start " + exe);
        for (int i = 0; i < 200 && m_hwnd == nullptr; ++i) {
            m_hwnd = FindWindowA(kFloorWindowClass, pszTitle);
            if (m_hwnd == nullptr) Sleep(50);
        }
        if (m_hwnd == nullptr) Fail(std::string("no window of the ") + pszTitle);
    }
    ~Floor()
    {
        if (m_hwnd != nullptr) PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(m_pi.hProcess, 1);
        CloseHandle(m_pi.hThread);
        CloseHandle(m_pi.hProcess);
    }
    Floor(const Floor&) = delete;
    Floor& operator=(const Floor&) = delete;
    HWND Window() const { return m_hwnd; }

private:
    PROCESS_INFORMATION m_pi{};
    HWND m_hwnd = nullptr;
};

// Installs and starts the service; removes it again when it goes.
class InstalledService {
public:
    explicit InstalledService(const std::string& exe) : m_exe(exe)
    {
        if (RunAndWait(m_exe, "-silentinstall") != 1) Fail("Plugtrail -silentinstall failed");
        m_hwnd = WaitForPlugtrailWindow(30000);
        if (m_hwnd == nullptr) Fail("no Plugtrail window");
        m_pid = ServiceProcessId(kServiceName);
        if (m_pid == 0) Fail("no Plugtrail service process");
    }
    ~InstalledService() { RunAndWait(m_exe, "-silentuninstall"); }
    InstalledService(const InstalledService&) = delete;
    InstalledService& operator=(const InstalledService&) = delete;
    HWND Window() const { return m_hwnd; }
    DWORD Pid() const { return m_pid; }

private:
    std::string m_exe;
    HWND m_hwnd = nullptr;
    DWORD m_pid = 0;
};

UsbDeviceSpec Spec(const char* pszKind, int n)
{
    char szId[96];
    std::snprintf(szId, sizeof szId, "USB\\VID_B0B0&PID_%s\\BENCH%05d", pszKind, n);
    UsbDeviceSpec spec;
    spec.instanceId = szId;
    spec.service = "USBSTOR";
    spec.friendlyName = std::string("Bench stick ") + std::to_string(n);
    spec.deviceDesc = "USB Mass Storage Device";
    spec.mfg = "Compatible USB storage device";
    spec.location = "Port_#0001.Hub_#0001";
    return spec;
}

double Timed(HWND hwnd, WPARAM code, const std::vector<BYTE>& record)
{
    const double t0 = Now();
    if (!SendDeviceChange(hwnd, code, record.data())) Fail("SendMessageTimeoutA failed or timed out");
    return Now() - t0;
}

double TimedNull(HWND hwnd)
{
    const double t0 = Now();
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 10000, &result)) Fail("WM_NULL not answered");
    return Now() - t0;
}

struct Stats {
    double median = 0, p95 = 0, total = 0;
    size_t n = 0;
};

Stats Summarise(std::vector<double> v)
{
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.n = v.size();
    s.median = v[v.size() / 2];
    s.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
    for (double x : v) s.total += x;
    return s;
}

size_t LineCount(const char* pszPath) { return ReadLines(pszPath).size(); }

// Every interface of the USB device class the registry holds, present or not.
int AllInterfaces()
{
    HDEVINFO h = SetupDiGetClassDevsA(&kUsbDeviceInterfaceGuid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (h == INVALID_HANDLE_VALUE) return -1;
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    int n = 0;
    while (SetupDiEnumDeviceInterfaces(h, nullptr, &kUsbDeviceInterfaceGuid, n, &iface)) ++n;
    SetupDiDestroyDeviceInfoList(h);
    return n;
}

struct RowResult {
    int present = 0;
    int pairs = 0;
    Stats arrival, removal, floorArrival, floorRemoval, roundTrip, floorRoundTrip;
    double eventsPerSecond = 0;
    long linesLost = 0, floorLinesLost = 0;
    double callUs[kCallKinds] = {};
    int interfaces = 0;
};

void PrintUsage(const char* pszWhen, const ProcessUsage& u)
{
    std::printf("  %-34s handles %lu, private bytes %lu, CPU %.3f s\n", pszWhen, static_cast<unsigned long>(u.handles),
                static_cast<unsigned long>(u.privateBytes), static_cast<double>(u.cpu100ns) / 1e7);
}

int Run(const Options& opt)
{
    DeleteIfPresent(kDeviceLog);
    DeleteIfPresent(kAppendFloorLog);
    DeleteIfPresent(kLookupFloorLog);

    InstalledService service(opt.plugtrail);
    Floor appendFloor(opt.floor, "append", kAppendFloorLog, kAppendFloorTitle);
    Floor lookupFloor(opt.floor, "lookup", kLookupFloorLog, kLookupFloorTitle);
    WatchedProcess proc(service.Pid());
    if (!proc.Opened()) Fail("cannot open the service process");

    std::vector<std::unique_ptr<SimulatedUsbDevice>> background;
    auto growBackground = [&](int n) {
        while (static_cast<int>(background.size()) < n) {
            background.push_back(
                std::make_unique<SimulatedUsbDevice>(Spec("0001", static_cast<int>(background.size()))));
            background.back()->SetPresent(true);
        }
    };

    // Soak: the same two devices come and go; the service must end where it
    // started once it is warm.
    std::printf("Soak: %d events to the service\n", opt.soakEvents);
    growBackground(opt.rows.empty() ? 10 : opt.rows.front().first);
    ProcessUsage before{}, after{};
    {
        SimulatedUsbDevice a(Spec("0000", 1)), b(Spec("0000", 2));
        a.SetPresent(true);
        b.SetPresent(true);
        const std::vector<BYTE> recA = InterfaceRecord(kUsbDeviceInterfaceGuid, a.BroadcastPath());
        const std::vector<BYTE> recB = InterfaceRecord(kUsbDeviceInterfaceGuid, b.BroadcastPath());
        std::vector<double> arr, rem;
        auto play = [&](int events) {
            arr.clear();
            rem.clear();
            for (int i = 0; i < events / 2; ++i) {
                const std::vector<BYTE>& rec = (i % 2) ? recB : recA;
                arr.push_back(Timed(service.Window(), DBT_DEVICEARRIVAL, rec));
                rem.push_back(Timed(service.Window(), DBT_DEVICEREMOVECOMPLETE, rec));
            }
        };
        play(200);
        if (!proc.Read(before)) Fail("cannot read the service's usage");
        DeleteIfPresent(kDeviceLog);
        const double t0 = Now();
        play(opt.soakEvents);
        const double seconds = (Now() - t0) / 1e6;
        if (!proc.Read(after)) Fail("cannot read the service's usage");
        const long lost = static_cast<long>(opt.soakEvents) - static_cast<long>(LineCount(kDeviceLog));
        PrintUsage("after 200 warm-up events:", before);
        PrintUsage("after the soak:", after);
        const Stats sa = Summarise(arr), sr = Summarise(rem);
        std::printf("  %d events in %.1f s, lines lost %ld; arrival median %.0f us, p95 %.0f us; removal median "
                    "%.0f us, p95 %.0f us\n",
                    opt.soakEvents, seconds, lost, sa.median, sa.p95, sr.median, sr.p95);
        // The same back-to-back events to the lookup floor, and again to
        // Plugtrail, for a like-for-like comparison of the soak's pace.
        std::vector<double> floorArr, plugArr;
        for (int round = 0; round < 2; ++round) {
            const HWND hwnd = round == 0 ? lookupFloor.Window() : service.Window();
            std::vector<double>& v = round == 0 ? floorArr : plugArr;
            for (int i = 0; i < 250; ++i) {
                const std::vector<BYTE>& rec = (i % 2) ? recB : recA;
                v.push_back(Timed(hwnd, DBT_DEVICEARRIVAL, rec));
                Timed(hwnd, DBT_DEVICEREMOVECOMPLETE, rec);
            }
        }
        const Stats sf = Summarise(floorArr), sp = Summarise(plugArr);
        std::printf("  back to back, 250 pairs each: arrival median / p95 lookup floor %.0f / %.0f us, Plugtrail "
                    "%.0f / %.0f us\n",
                    sf.median, sf.p95, sp.median, sp.p95);
        std::printf("SOAK|%lu|%lu|%lu|%lu|%ld|%.1f\n", static_cast<unsigned long>(before.handles),
                    static_cast<unsigned long>(after.handles), static_cast<unsigned long>(before.privateBytes),
                    static_cast<unsigned long>(after.privateBytes), lost, seconds);
    }

    // Retry: a line that waited for a held log lands on the window's timer
    // once the file is free, while a flapping device's DBT_DEVNODES_CHANGED
    // reaches the window every 400 ms; the time from the file's release to
    // the line in it.
    {
        SimulatedUsbDevice dev(Spec("0003", 1));
        dev.SetPresent(true);
        const std::vector<BYTE> rec = InterfaceRecord(kUsbDeviceInterfaceGuid, dev.BroadcastPath());
        std::vector<double> delays;
        for (int round = 0; round < opt.retryRounds; ++round) {
            DeleteIfPresent(kDeviceLog);
            HANDLE hHolder = CreateFileA(kDeviceLog, GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
            if (hHolder == INVALID_HANDLE_VALUE) Fail("cannot hold the device log");
            Timed(service.Window(), round % 2 != 0 ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL, rec);
            Sleep(300);
            CloseHandle(hHolder);
            const double t0 = Now();
            for (double tNext = t0; LineCount(kDeviceLog) == 0 && Now() - t0 < 10e6; Sleep(5)) {
                if (Now() < tNext) continue;
                if (!SendDeviceChange(service.Window(), DBT_DEVNODES_CHANGED, nullptr)) Fail("DBT_DEVNODES_CHANGED");
                tNext += 400e3;
            }
            delays.push_back((Now() - t0) / 1e3);
        }
        const Stats s = Summarise(delays);
        std::printf("Retry: %d waiting lines, DBT_DEVNODES_CHANGED every 400 ms; from the file's release to the "
                    "line: median %.0f ms, p95 %.0f ms\n",
                    opt.retryRounds, s.median, s.p95);
        std::printf("RETRY|%d|%.0f|%.0f\n", opt.retryRounds, s.median, s.p95);
    }

    std::vector<RowResult> results;
    int stormSerial = 0;
    for (const auto& row : opt.rows) {
        const int present = row.first;
        const int pairs = row.second > 0 ? row.second : opt.pairs;
        growBackground(present);
        RowResult r;
        r.present = present;
        r.pairs = pairs;
        DeleteIfPresent(kDeviceLog);
        DeleteIfPresent(kAppendFloorLog);
        DeleteIfPresent(kLookupFloorLog);
        SendMessageA(lookupFloor.Window(), kMsgReset, 0, 0);
        r.interfaces = AllInterfaces();

        std::vector<double> arr, rem, fArr, fRem, rt, frt;
        const double tRow = Now();
        for (int i = 0; i < pairs; ++i) {
            SimulatedUsbDevice dev(Spec("0002", stormSerial++));
            const std::vector<BYTE> rec = InterfaceRecord(kUsbDeviceInterfaceGuid, dev.BroadcastPath());
            // Plugtrail and its floor take turns at going first, so that
            // neither is always the first to meet a freshly changed registry.
            const bool bPlugtrailFirst = i % 2 == 0;
            dev.SetPresent(true);
            if (bPlugtrailFirst) arr.push_back(Timed(service.Window(), DBT_DEVICEARRIVAL, rec));
            fArr.push_back(Timed(lookupFloor.Window(), DBT_DEVICEARRIVAL, rec));
            if (!bPlugtrailFirst) arr.push_back(Timed(service.Window(), DBT_DEVICEARRIVAL, rec));
            dev.SetPresent(false);
            if (bPlugtrailFirst) rem.push_back(Timed(service.Window(), DBT_DEVICEREMOVECOMPLETE, rec));
            fRem.push_back(Timed(appendFloor.Window(), DBT_DEVICEREMOVECOMPLETE, rec));
            if (!bPlugtrailFirst) rem.push_back(Timed(service.Window(), DBT_DEVICEREMOVECOMPLETE, rec));
            // The bare round trips: a message the window does not act on.
            rt.push_back(TimedNull(service.Window()));
            frt.push_back(TimedNull(appendFloor.Window()));
        }
        r.arrival = Summarise(arr);
        r.removal = Summarise(rem);
        r.floorArrival = Summarise(fArr);
        r.floorRemoval = Summarise(fRem);
        r.roundTrip = Summarise(rt);
        r.floorRoundTrip = Summarise(frt);
        if (std::getenv("BENCH_SPREAD") != nullptr) {
            for (auto* v : {&arr, &fArr, &rem, &fRem}) {
                std::vector<double> sorted = *v;
                std::sort(sorted.begin(), sorted.end());
                std::printf("  spread:");
                for (int q : {5, 10, 25, 50, 75, 90, 95}) std::printf(" p%d %.0f", q, sorted[sorted.size() * q / 100]);
                std::printf("\n");
            }
        }
        r.eventsPerSecond = 2.0 * pairs / ((r.arrival.total + r.removal.total) / 1e6);
        r.linesLost = 2L * pairs - static_cast<long>(LineCount(kDeviceLog));
        r.floorLinesLost = 2L * pairs - static_cast<long>(LineCount(kLookupFloorLog)) -
                           static_cast<long>(LineCount(kAppendFloorLog));
        for (unsigned k = 0; k < kCallKinds; ++k)
            r.callUs[k] = static_cast<double>(SendMessageA(lookupFloor.Window(), kMsgCallTime, k, 0)) / pairs;
        std::printf("row %d present: %d pairs in %.1f s (wall, with device set-up)\n", present, pairs,
                    (Now() - tRow) / 1e6);
        results.push_back(r);
    }

    ProcessUsage end{};
    if (!proc.Read(end)) Fail("cannot read the service's usage");
    PrintUsage("after the storms:", end);

    ProcessUsage idle0{}, idle1{};
    proc.Read(idle0);
    Sleep(static_cast<DWORD>(opt.idleSeconds) * 1000);
    proc.Read(idle1);
    std::printf("IDLE|%d|%.4f\n", opt.idleSeconds, static_cast<double>(idle1.cpu100ns - idle0.cpu100ns) / 1e7);

    std::printf("\n| Devices present | Pairs | Events/s | Arrival median / p95 (us) | Lookup floor median / p95 (us) "
                "| Arrival / lookup floor | Removal median / p95 (us) | Append floor median / p95 (us) | Removal / "
                "append floor | Bare round trip median, Plugtrail / floor (us) | Lines lost |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const RowResult& r : results)
        std::printf("| %d | %d | %.0f | %.0f / %.0f | %.0f / %.0f | %.2f | %.0f / %.0f | %.0f / %.0f | %.2f | %.0f / %.0f | %ld |\n",
                    r.present, r.pairs, r.eventsPerSecond, r.arrival.median, r.arrival.p95, r.floorArrival.median,
                    r.floorArrival.p95, r.arrival.median / r.floorArrival.median, r.removal.median, r.removal.p95,
                    r.floorRemoval.median, r.floorRemoval.p95, r.removal.median / r.floorRemoval.median,
                    r.roundTrip.median, r.floorRoundTrip.median, r.linesLost);
    std::printf("\nLookup floor, mean microseconds per arrival by call:\n\n");
    std::printf("| Devices present | Interfaces in registry | SetupDiGetClassDevsA | SetupDiEnumDeviceInterfaces (all) | "
                "Detail size (all) | Detail (all) | Property reads | Destroy list | Append line |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const RowResult& r : results)
        std::printf("| %d | %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f |\n", r.present, r.interfaces,
                    r.callUs[kCallClassDevs], r.callUs[kCallEnum], r.callUs[kCallDetailSize], r.callUs[kCallDetail],
                    r.callUs[kCallProperty], r.callUs[kCallDestroy], r.callUs[kCallAppend] / 1.0);
    long lost = 0;
    for (const RowResult& r : results) lost += r.linesLost + r.floorLinesLost;
    std::printf("\nLines lost in all storms (Plugtrail and floors): %ld\n", lost);
    return lost == 0 && after.handles == before.handles ? 0 : 1;
}

// "10,100,200:200": devices present, each optionally with its own pair count.
std::vector<std::pair<int, int>> ParseRows(const char* psz)
{
    std::vector<std::pair<int, int>> rows;
    const char* p = psz;
    while (*p) {
        char* end = nullptr;
        const int present = static_cast<int>(std::strtol(p, &end, 10));
        int pairs = 0;
        if (*end == ':') pairs = static_cast<int>(std::strtol(end + 1, &end, 10));
        rows.emplace_back(present, pairs);
        if (*end != ',') break;
        p = end + 1;
    }
    return rows;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_driver PLUGTRAIL.EXE BENCH_FLOOR.EXE [--pairs N] [--rows A,B,C:PAIRS] "
                             "[--soak EVENTS] [--idle SECONDS] [--retries ROUNDS]\n");
        return 2;
    }
    Options opt;
    opt.plugtrail = argv[1];
    opt.floor = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--pairs") opt.pairs = std::atoi(argv[i + 1]);
        else if (name == "--rows") opt.rows = ParseRows(argv[i + 1]);
        else if (name == "--soak") opt.soakEvents = std::atoi(argv[i + 1]);
        else if (name == "--idle") opt.idleSeconds = std::atoi(argv[i + 1]);
        else if (name == "--retries") opt.retryRounds = std::atoi(argv[i + 1]);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    try {
        return Run(opt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_driver: %s\n", e.what());
        return 1;
    }
}

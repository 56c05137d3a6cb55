// Plays storms of device events to the installed Plugtrail service and to the
// two floor windows (bench_floor append / lookup), and prints what each event
// cost. Only the SendMessageTimeoutA round trips are timed; making, plugging
// and unplugging the simulated devices happens between them.
//
// With --hang it plays only device events while a medium hangs, beside the
// same events once it answers.
//
//   bench_driver PLUGTRAIL.EXE BENCH_FLOOR.EXE [--pairs N] [--rows 10,100,200:200]
//                [--soak EVENTS] [--idle SECONDS] [--retries ROUNDS]
//   bench_driver PLUGTRAIL.EXE BENCH_FLOOR.EXE --hang SECONDS [--rows PRESENT]
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
#include "support/wine_drive.h"

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
    // Above 0: only the device events while a medium hangs for this many
    // seconds (scripts/bench mounts the file system that hangs).
    int hangSeconds = 0;
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

// The round trips of a storm's pairs: Plugtrail's and its floors'.
struct PairTimes {
    std::vector<double> arr, rem, fArr, fRem, rt, frt;
};

// One pair of a storm: a new device is made and plugged; Plugtrail and the
// lookup floor get its arrival, Plugtrail and the append floor its removal.
void PlayPair(HWND hwndPlugtrail, HWND hwndLookupFloor, HWND hwndAppendFloor, const char* pszKind, int serial,
              bool bPlugtrailFirst, PairTimes& t)
{
    SimulatedUsbDevice dev(Spec(pszKind, serial));
    const std::vector<BYTE> rec = InterfaceRecord(kUsbDeviceInterfaceGuid, dev.BroadcastPath());
    // Plugtrail and its floor take turns at going first, so that neither is
    // always the first to meet a freshly changed registry.
    dev.SetPresent(true);
    if (bPlugtrailFirst) t.arr.push_back(Timed(hwndPlugtrail, DBT_DEVICEARRIVAL, rec));
    t.fArr.push_back(Timed(hwndLookupFloor, DBT_DEVICEARRIVAL, rec));
    if (!bPlugtrailFirst) t.arr.push_back(Timed(hwndPlugtrail, DBT_DEVICEARRIVAL, rec));
    dev.SetPresent(false);
    if (bPlugtrailFirst) t.rem.push_back(Timed(hwndPlugtrail, DBT_DEVICEREMOVECOMPLETE, rec));
    t.fRem.push_back(Timed(hwndAppendFloor, DBT_DEVICEREMOVECOMPLETE, rec));
    if (!bPlugtrailFirst) t.rem.push_back(Timed(hwndPlugtrail, DBT_DEVICEREMOVECOMPLETE, rec));
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

// A medium that hangs: drive H: is served from C:\_drive_H, which scripts/bench
// mounts as a FUSE file system whose statfs waits while the flag file exists
// (tests/harness/hanging_fs.py). Asking the drive for its type or size then
// waits as long as the flag does, as a failing stick holds whoever asks it.
constexpr char kHangLetter = 'H';
constexpr char kHangRoot[] = "H:\\";
constexpr char kHangHeldFile[] = "C:\\_drive_H\\_bench_held";
constexpr char kHangFlag[] = "C:\\_hang_H";

// The sequence number the service saved with its last report.
DWORD SavedSequence()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Plugtrail", 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return 0;
    DWORD dwValue = 0, dwType = 0, cb = sizeof dwValue;
    if (RegQueryValueExA(hKey, "Sequence", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) != ERROR_SUCCESS ||
        dwType != REG_DWORD)
        dwValue = 0;
    RegCloseKey(hKey);
    return dwValue;
}

// The hang lasts while this lives, or until End. Ending it on every path
// matters: a process whose thread waits in FUSE cannot exit until it ends.
class Hang {
public:
    Hang()
    {
        const HANDLE h = CreateFileA(kHangFlag, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) Fail("cannot create the hang's flag " + std::string(kHangFlag));
        CloseHandle(h);
        m_start = Now();
    }
    ~Hang() { End(); }
    Hang(const Hang&) = delete;
    Hang& operator=(const Hang&) = delete;
    double Start() const { return m_start; }
    void End()
    {
        if (m_bEnded) return;
        DeleteFileA(kHangFlag);
        m_bEnded = true;
    }

private:
    double m_start = 0;
    bool m_bEnded = false;
};

// Asks the hanging medium for its size, on a thread of its own: how long it
// waits shows that the hang lasted through what was measured meanwhile.
DWORD WINAPI ProbeMedium(void* pMicroseconds)
{
    const double t0 = Now();
    ULARGE_INTEGER available;
    GetDiskFreeSpaceExA(kHangRoot, &available, nullptr, nullptr);
    *static_cast<double*>(pMicroseconds) = Now() - t0;
    return 0;
}

std::vector<BYTE> VolumeRecord(char cLetter)
{
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1UL << (cLetter - 'A');
    const BYTE* p = reinterpret_cast<const BYTE*>(&volume);
    return std::vector<BYTE>(p, p + sizeof volume);
}

struct HangRow {
    int pairs = 0;
    PairTimes t;
    long linesLost = 0, floorLinesLost = 0;
    double seconds = 0;
};

// Pairs of distinct devices, as in the storms, until more() says no; each
// log must then hold one line per event.
template <typename More>
void PlayHangRow(HWND hwndPlugtrail, HWND hwndLookupFloor, HWND hwndAppendFloor, const char* pszKind, More more,
                 HangRow& row)
{
    DeleteIfPresent(kDeviceLog);
    DeleteIfPresent(kAppendFloorLog);
    DeleteIfPresent(kLookupFloorLog);
    const double t0 = Now();
    double longest = 0;
    for (int i = 0; more(i, longest); ++i) {
        const double tPair = Now();
        PlayPair(hwndPlugtrail, hwndLookupFloor, hwndAppendFloor, pszKind, i, i % 2 == 0, row.t);
        longest = std::max(longest, Now() - tPair);
        ++row.pairs;
    }
    row.seconds = (Now() - t0) / 1e6;
    row.linesLost = 2L * row.pairs - static_cast<long>(LineCount(kDeviceLog));
    row.floorLinesLost = 2L * row.pairs - static_cast<long>(LineCount(kLookupFloorLog)) -
                         static_cast<long>(LineCount(kAppendFloorLog));
}

// Devices come and go while the service's volume thread waits on a medium
// that hangs for `seconds`, beside the floors, taking turns; then as many
// again once the medium answers. True when no line was lost, every device
// event was reported during the hang, the hang held through the pairs, and
// the volume was reported once it ended (the saved sequence number counts
// the service's reports).
bool PlayHangingMedium(HWND hwndPlugtrail, HWND hwndLookupFloor, HWND hwndAppendFloor, int present, int seconds)
{
    // Wine's server asks a mount for its size when it first opens a file
    // there; a file held open keeps that question out of the hang.
    const HANDLE hHeld = CreateFileA(kHangHeldFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, 0, nullptr);
    if (hHeld == INVALID_HANDLE_VALUE) Fail(std::string("cannot hold ") + kHangHeldFile);
    const std::unique_ptr<void, decltype(&CloseHandle)> held(hHeld, &CloseHandle);
    if (!DefineDrive(kHangLetter, DRIVE_REMOVABLE, "HANGING", "4C530003")) Fail("cannot define drive H:");
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(kHangRoot, &available, nullptr, nullptr)) Fail("drive H: does not answer");
    const std::vector<BYTE> volume = VolumeRecord(kHangLetter);

    HangRow hung, answering;
    double probeUs = -1, broadcastUs = 0, reportUs = -1;
    DWORD seqBefore = 0, seqHung = 0, seqAfter = 0;
    bool bHeldThrough = false;
    {
        Hang hang;
        DWORD dwThread = 0;
        const HANDLE hProbe = CreateThread(nullptr, 0, ProbeMedium, &probeUs, 0, &dwThread);
        if (hProbe == nullptr) Fail("cannot start the medium's probe");
        const std::unique_ptr<void, decltype(&CloseHandle)> probe(hProbe, &CloseHandle);
        seqBefore = SavedSequence();
        // The volume's arrival: the service's volume thread now asks the
        // medium and waits for it.
        broadcastUs = Timed(hwndPlugtrail, DBT_DEVICEARRIVAL, volume);
        const double hangUs = seconds * 1e6;
        PlayHangRow(hwndPlugtrail, hwndLookupFloor, hwndAppendFloor, "0004",
                    [&](int, double longest) { return Now() - hang.Start() + 3 * longest + 0.5e6 < hangUs; }, hung);
        seqHung = SavedSequence();
        while (Now() - hang.Start() < hangUs) Sleep(10);
        bHeldThrough = WaitForSingleObject(hProbe, 0) == WAIT_TIMEOUT;
        hang.End();
        const double tEnd = Now();
        if (WaitForSingleObject(hProbe, 30000) != WAIT_OBJECT_0) Fail("the medium still holds its reader");
        // The volume's report (104) is the one report that waited.
        for (const double t0 = Now(); Now() - t0 < 30e6; Sleep(5)) {
            if (SavedSequence() == seqHung) continue;
            reportUs = Now() - tEnd;
            break;
        }
        Sleep(500);
        seqAfter = SavedSequence();
    }
    const int pairs = hung.pairs;
    PlayHangRow(hwndPlugtrail, hwndLookupFloor, hwndAppendFloor, "0005",
                [&](int i, double) { return i < pairs; }, answering);
    Timed(hwndPlugtrail, DBT_DEVICEREMOVECOMPLETE, volume);
    RemoveDrive(kHangLetter);

    std::printf("Hanging medium: drive H: hangs for %d s with %d devices present; %d pairs in %.1f s during the "
                "hang, as many in %.1f s after it\n",
                seconds, present, hung.pairs, hung.seconds, answering.seconds);
    std::printf("  the volume's arrival to the service: %.0f us round trip; a reader of its size waited %.1f s\n",
                broadcastUs, probeUs / 1e6);
    std::printf("  reports the service saved: %lu during the hang (%d pairs: 100, 108 and 101 each), %lu after it, "
                "the first %.0f ms after the hang ended\n",
                static_cast<unsigned long>(seqHung - seqBefore), hung.pairs,
                static_cast<unsigned long>(seqAfter - seqHung), reportUs / 1e3);
    std::printf("\n| Medium | Devices present | Pairs | Arrival median / p95 (us) | Lookup floor median / p95 (us) | "
                "Arrival / lookup floor | Removal median / p95 (us) | Append floor median / p95 (us) | Removal / "
                "append floor | Lines lost, Plugtrail / floors |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    const std::string hungLabel = "hanging for " + std::to_string(seconds) + " s";
    for (const HangRow* row : {&hung, &answering}) {
        const Stats a = Summarise(row->t.arr), fa = Summarise(row->t.fArr), r = Summarise(row->t.rem),
                    fr = Summarise(row->t.fRem);
        std::printf("| %s | %d | %d | %.0f / %.0f | %.0f / %.0f | %.2f | %.0f / %.0f | %.0f / %.0f | %.2f "
                    "| %ld / %ld |\n",
                    row == &hung ? hungLabel.c_str() : "answering, after it",
                    present, row->pairs, a.median, a.p95, fa.median, fa.p95, a.median / fa.median, r.median, r.p95,
                    fr.median, fr.p95, r.median / fr.median, row->linesLost, row->floorLinesLost);
        if (std::getenv("BENCH_SPREAD") != nullptr) {
            for (const std::vector<double>* v : {&row->t.arr, &row->t.fArr, &row->t.rem, &row->t.fRem}) {
                std::vector<double> sorted = *v;
                std::sort(sorted.begin(), sorted.end());
                std::printf("  spread:");
                for (int q : {5, 10, 25, 50, 75, 90, 95}) std::printf(" p%d %.0f", q, sorted[sorted.size() * q / 100]);
                std::printf("\n");
            }
        }
        std::printf("HANG|%s|%d|%.0f|%.0f|%.3f|%.0f|%.0f|%.3f\n", row == &hung ? "hung" : "answering", row->pairs,
                    a.median, fa.median, a.median / fa.median, r.median, fr.median, r.median / fr.median);
    }
    std::printf("\n");
    bool bOk = true;
    auto check = [&](bool bGood, const char* pszWhat) {
        if (bGood) return;
        std::printf("Hanging medium: FAILED: %s\n", pszWhat);
        bOk = false;
    };
    check(hung.pairs > 0, "no pair fitted into the hang");
    check(bHeldThrough, "the medium did not hang through the pairs (is C:\\_drive_H its FUSE mount?)");
    // A device report that waited behind the medium would show here.
    check(seqHung - seqBefore == 3UL * hung.pairs, "the devices' reports did not all come during the hang");
    check(seqAfter == seqHung + 1, "not exactly one report (the volume's) came once the hang ended");
    check(hung.linesLost == 0 && hung.floorLinesLost == 0 && answering.linesLost == 0 &&
              answering.floorLinesLost == 0,
          "lines lost");
    return bOk;
}

// Only the hanging medium, with the first storm's devices present.
int RunHangingMedium(const Options& opt)
{
    DeleteIfPresent(kDeviceLog);
    DeleteIfPresent(kAppendFloorLog);
    DeleteIfPresent(kLookupFloorLog);
    InstalledService service(opt.plugtrail);
    Floor appendFloor(opt.floor, "append", kAppendFloorLog, kAppendFloorTitle);
    Floor lookupFloor(opt.floor, "lookup", kLookupFloorLog, kLookupFloorTitle);
    const int present = opt.rows.empty() ? 10 : opt.rows.front().first;
    std::vector<std::unique_ptr<SimulatedUsbDevice>> background;
    for (int i = 0; i < present; ++i) {
        background.push_back(std::make_unique<SimulatedUsbDevice>(Spec("0001", i)));
        background.back()->SetPresent(true);
    }
    return PlayHangingMedium(service.Window(), lookupFloor.Window(), appendFloor.Window(), present, opt.hangSeconds)
               ? 0
               : 1;
}

int Run(const Options& opt)
{
    if (opt.hangSeconds > 0) return RunHangingMedium(opt);
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

        PairTimes t;
        const double tRow = Now();
        for (int i = 0; i < pairs; ++i) {
            PlayPair(service.Window(), lookupFloor.Window(), appendFloor.Window(), "0002", stormSerial++, i % 2 == 0,
                     t);
            // The bare round trips: a message the window does not act on.
            t.rt.push_back(TimedNull(service.Window()));
            t.frt.push_back(TimedNull(appendFloor.Window()));
        }
        r.arrival = Summarise(t.arr);
        r.removal = Summarise(t.rem);
        r.floorArrival = Summarise(t.fArr);
        r.floorRemoval = Summarise(t.fRem);
        r.roundTrip = Summarise(t.rt);
        r.floorRoundTrip = Summarise(t.frt);
        if (std::getenv("BENCH_SPREAD") != nullptr) {
            for (auto* v : {&t.arr, &t.fArr, &t.rem, &t.fRem}) {
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
                             "[--soak EVENTS] [--idle SECONDS] [--retries ROUNDS]\n"
                             "       bench_driver PLUGTRAIL.EXE BENCH_FLOOR.EXE --hang SECONDS [--rows PRESENT]\n");
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
        else if (name == "--hang") opt.hangSeconds = std::atoi(argv[i + 1]);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    try {
        return Run(opt);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_driver: %s\n", e.what());
        return 1;
    }
}

// The real Plugtrail.exe, installed as a service or run with -debug, fed by
// usb_side the way the demo feeds it: the window is found from outside,
// simulated devices come and go, and the device log shows it.
#include <windows.h>

#include <gtest/gtest.h>

#include <dbt.h>

#include <memory>
#include <string>
#include <vector>

#include "support/device_broadcast.h"
#include "support/message_box.h"
#include "support/plugtrail_window.h"
#include "support/processes.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"
#include "util/scoped_handle.h"

namespace {

constexpr char kDeviceLog[] = "C:\\_UsbDevices.log";
constexpr char kPlugtrail[] = "..\\Plugtrail.exe";
constexpr DWORD kRunMs = 30000;

constexpr char kStickId[] = "USB\\VID_0781&PID_5567\\4C530001";
constexpr char kHubId[] = "USB\\VID_05E3&PID_0608\\5&1A2B3C4D&0&1";
constexpr char kSerialId[] = "USB\\VID_067B&PID_2303\\6&2C4E1F&0&2";
constexpr char kSilentId[] = "USB\\VID_0951&PID_1666\\SILENT0001";

DWORD RunTool(const std::string& exe, const std::string& args)
{
    ChildProcess child(exe, args);
    if (!child.Started()) {
        ADD_FAILURE() << exe << " " << args << " not started, error " << child.Error();
        return 0xFFFFFFFF;
    }
    return child.Wait(kRunMs);
}

DWORD UsbSide(const std::string& args) { return RunTool("usb_side.exe", args); }

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// usb_side keeps its device nodes between runs; nothing may outlive a test.
void RemoveDevices()
{
    RemoveSimulatedDevice(kStickId);
    RemoveSimulatedDevice(kHubId);
    RemoveSimulatedDevice(kSerialId);
    RemoveSimulatedDevice(kSilentId);
}

std::string Quoted(const char* id)
{
    return std::string("\"") + id + "\"";
}

const std::string kStickFields = "'SanDisk Cruzer Blade' / 'USB Mass Storage Device' / 'Compatible USB storage device'";

// A stick that is in before Plugtrail starts; usb_side unplugs it later.
void PlugBeforeStart()
{
    SimulatedUsbDevice stick(UsbDeviceSpec{kStickId, "USBSTOR", "SanDisk Cruzer Blade", "USB Mass Storage Device",
                                           "Compatible USB storage device", ""});
    stick.Keep();
    stick.SetPresent(true);
}

// The device log without the date and time in front of each line.
std::vector<std::string> LoggedEvents()
{
    std::vector<std::string> events;
    for (const std::string& line : ReadLines(kDeviceLog)) {
        const size_t pos = line.find("  ");
        events.push_back(pos == std::string::npos ? "<no date>" + line : line.substr(pos + 2));
    }
    return events;
}

class ServiceRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteIfPresent(kDeviceLog);
        ASSERT_EQ(RunTool(kPlugtrail, "-silentinstall"), 1u);
    }
    void TearDown() override
    {
        RunTool(kPlugtrail, "-silentuninstall");
        RemoveDevices();
        DeleteIfPresent(kDeviceLog);
    }
};

TEST_F(ServiceRun, UsbSideFindsTheServiceWindowAndItsEventsReachTheLog)
{
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsPlugtrailWindow(hwnd));
    EXPECT_EQ(UsbSide("find"), 0u);
    // The log is there before the first event, empty, and Everyone gets no
    // access (Wine keeps only the mode bits the DACL turns into).
    ASSERT_TRUE(FileExists(kDeviceLog));
    EXPECT_EQ(ReadWholeFile(kDeviceLog), "");
    EXPECT_EQ(FileDacl(kDeviceLog).find(";;;WD)"), std::string::npos) << FileDacl(kDeviceLog);
    // A log shipper follows the file while the service appends to it.
    ScopedFile tail(
        CreateFileA(kDeviceLog, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(tail);

    const std::string stick = std::string("\"") + kStickId + "\"";
    const std::string hub = std::string("\"") + kHubId + "\"";
    EXPECT_EQ(UsbSide("plug " + stick +
                      " USBSTOR \"SanDisk Cruzer Blade\" \"USB Mass Storage Device\" \"Compatible USB storage device\" "
                      "\"Port_#0001.Hub_#0001\""),
              0u);
    // Only a location: it stands in for the friendly name.
    EXPECT_EQ(UsbSide("plug " + hub + " USBHUB \"\" \"\" \"\" \"Port_#0002.Hub_#0001\""), 0u);
    EXPECT_EQ(UsbSide("send 7"), 0u);  // DBT_DEVNODES_CHANGED: no line
    EXPECT_EQ(UsbSide("unplug " + stick), 0u);
    EXPECT_EQ(UsbSide("send 0x8004 " + stick), 0u);  // the same removal again: dropped
    EXPECT_EQ(UsbSide("unplug " + hub), 0u);

    char followed[2048];
    DWORD cbFollowed = 0;
    EXPECT_TRUE(ReadFile(tail.get(), followed, sizeof followed, &cbFollowed, nullptr));
    tail.reset();
    EXPECT_EQ(std::string(followed, cbFollowed), ReadWholeFile(kDeviceLog));
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{
                                  "USB storage device attached: 'SanDisk Cruzer Blade' / 'USB Mass Storage Device' / "
                                  "'Compatible USB storage device'",
                                  "USB hub device attached: 'Port_#0002.Hub_#0001' / '' / ''",
                                  "USB storage device removed: 'SanDisk Cruzer Blade' / 'USB Mass Storage Device' / "
                                  "'Compatible USB storage device'",
                                  "USB hub device removed: 'Port_#0002.Hub_#0001' / '' / ''",
                              }));
    EXPECT_TRUE(EndsWith(ReadWholeFile(kDeviceLog), "''\r\n"));

    // Once the service is removed there is no window left to find.
    ASSERT_EQ(RunTool(kPlugtrail, "-silentuninstall"), 1u);
    EXPECT_EQ(FindPlugtrailWindow(), nullptr);
    EXPECT_EQ(UsbSide("find"), 1u);
    EXPECT_NE(UsbSide("unplug \"USB\\VID_1111&PID_2222\\NEVERPLUGGED\""), 0u);
}

TEST_F(ServiceRun, RepeatedArrivalsAndTheSilentServiceLeaveNoLines)
{
    ASSERT_NE(WaitForPlugtrailWindow(kRunMs), nullptr);
    const std::string serial = Quoted(kSerialId);
    const std::string silent = Quoted(kSilentId);

    EXPECT_EQ(UsbSide("plug " + serial +
                      " USBSER \"Prolific USB-to-Serial Comm Port (COM3)\" \"Prolific USB-to-Serial Comm Port\" "
                      "\"Prolific\" \"Port_#0003.Hub_#0001\""),
              0u);
    EXPECT_EQ(UsbSide("send 0x8000 " + serial), 0u);  // the same arrival again: dropped
    EXPECT_EQ(UsbSide("plug " + silent + " xUSBSTOR \"Quiet\" \"Quiet\" \"Quiet\" \"\""), 0u);
    EXPECT_EQ(UsbSide("unplug " + silent), 0u);
    EXPECT_EQ(UsbSide("unplug " + serial), 0u);

    const std::string fields = "'Prolific USB-to-Serial Comm Port (COM3)' / 'Prolific USB-to-Serial Comm Port' / 'Prolific'";
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{
                                  "USB serial device attached: " + fields,
                                  "USB serial device removed: " + fields,
                              }));
}

// Holds the device log as a reader that shares nothing does.
HANDLE HoldLog()
{
    return CreateFileA(kDeviceLog, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Polls the service's status until pred holds or kRunMs have passed.
template <typename Pred>
SERVICE_STATUS WaitForStatus(SC_HANDLE service, Pred pred)
{
    SERVICE_STATUS status = {};
    for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < kRunMs; Sleep(20))
        if (QueryServiceStatus(service, &status) && pred(status)) break;
    return status;
}

TEST_F(ServiceRun, AReaderHoldingTheLogDelaysItsLinesButCostsNone)
{
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    ASSERT_NE(hwnd, nullptr);
    ScopedFile reader(HoldLog());
    ASSERT_TRUE(reader);
    std::vector<std::unique_ptr<SimulatedUsbDevice>> sticks;
    std::vector<std::string> expected;
    for (const std::string name : {"One", "Two", "Three"}) {
        sticks.push_back(std::make_unique<SimulatedUsbDevice>(
            UsbDeviceSpec{"USB\\VID_0781&PID_5567\\HELD" + name, "USBSTOR", name, "Disk", "Maker", ""}));
        sticks.back()->SetPresent(true);
        const auto record = InterfaceRecord(kUsbDeviceInterfaceGuid, sticks.back()->BroadcastPath());
        EXPECT_TRUE(SendDeviceChange(hwnd, DBT_DEVICEARRIVAL, record.data(), kRunMs)) << name;
        expected.push_back("USB storage device attached: '" + name + "' / 'Disk' / 'Maker'");
    }
    reader.reset();
    // No further event: the window's timer brings the lines in.
    for (const DWORD dwStart = GetTickCount(); ReadLines(kDeviceLog).size() < 3 && GetTickCount() - dwStart < kRunMs;)
        Sleep(50);
    EXPECT_EQ(LoggedEvents(), expected);

    // Held over the stop: the line is written before the service reports itself stopped.
    reader.reset(HoldLog());
    ASSERT_TRUE(reader);
    sticks[0]->SetPresent(false);
    const auto record = InterfaceRecord(kUsbDeviceInterfaceGuid, sticks[0]->BroadcastPath());
    EXPECT_TRUE(SendDeviceChange(hwnd, DBT_DEVICEREMOVECOMPLETE, record.data(), kRunMs));
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceA(scm.get(), "Plugtrail", SERVICE_STOP | SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    status = WaitForStatus(service.get(), [](const SERVICE_STATUS& s) { return s.dwCheckPoint != 0; });
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), status.dwCurrentState);
    EXPECT_NE(0u, status.dwWaitHint);
    reader.reset();
    status = WaitForStatus(service.get(), [](const SERVICE_STATUS& s) { return s.dwCurrentState == SERVICE_STOPPED; });
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), status.dwCurrentState);
    expected.push_back("USB storage device removed: 'One' / 'Disk' / 'Maker'");
    EXPECT_EQ(LoggedEvents(), expected);
}

// The retry timer runs while lines wait, whatever else reaches the window:
// a stream of DBT_DEVNODES_CHANGED, as a flapping device sends it, keeps no
// waiting line from the log once the file is free.
TEST_F(ServiceRun, AWaitingLineLandsWhileOtherBroadcastsKeepComing)
{
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    ASSERT_NE(hwnd, nullptr);
    ScopedFile reader(HoldLog());
    ASSERT_TRUE(reader);
    EXPECT_EQ(UsbSide("plug " + Quoted(kStickId) + " USBSTOR \"Stick\" \"Disk\" \"Maker\" \"\""), 0u);
    reader.reset();
    for (const DWORD dwFreed = GetTickCount(); ReadLines(kDeviceLog).empty() && GetTickCount() - dwFreed < 10000;) {
        EXPECT_TRUE(SendDeviceChange(hwnd, DBT_DEVNODES_CHANGED, nullptr, kRunMs));
        Sleep(400);
    }
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"USB storage device attached: 'Stick' / 'Disk' / 'Maker'"}));
}

// The log was rotated away and a folder took its name before the next
// device: the lines wait in memory, and the window's timer brings them in,
// in order, once the folder is gone.
TEST_F(ServiceRun, LinesWaitWhileAFolderHoldsTheLogsNameAndLandOnceItGoes)
{
    ASSERT_NE(WaitForPlugtrailWindow(kRunMs), nullptr);
    ASSERT_TRUE(DeleteFileA(kDeviceLog));
    ASSERT_TRUE(CreateDirectoryA(kDeviceLog, nullptr));
    const std::string stick = Quoted(kStickId);
    EXPECT_EQ(UsbSide("plug " + stick + " USBSTOR \"Stick\" \"Disk\" \"Maker\" \"\""), 0u);
    EXPECT_EQ(UsbSide("unplug " + stick), 0u);
    ASSERT_TRUE(RemoveDirectoryA(kDeviceLog));
    for (const DWORD dwStart = GetTickCount(); ReadLines(kDeviceLog).size() < 2 && GetTickCount() - dwStart < kRunMs;)
        Sleep(50);
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"USB storage device attached: 'Stick' / 'Disk' / 'Maker'",
                                                        "USB storage device removed: 'Stick' / 'Disk' / 'Maker'"}));
}

class ServiceStartedWithAStickIn : public ServiceRun {
protected:
    void SetUp() override
    {
        PlugBeforeStart();
        ServiceRun::SetUp();
    }
};

TEST_F(ServiceStartedWithAStickIn, LogsOnlyItsRemovalThenItsNextVisitAsUsual)
{
    ASSERT_NE(WaitForPlugtrailWindow(kRunMs), nullptr);
    const std::string stick = Quoted(kStickId);
    EXPECT_EQ(UsbSide("unplug " + stick), 0u);
    EXPECT_EQ(UsbSide("plug " + stick + " USBSTOR \"SanDisk Cruzer Blade\" \"USB Mass Storage Device\" "
                                        "\"Compatible USB storage device\" \"\""),
              0u);
    EXPECT_EQ(UsbSide("unplug " + stick), 0u);
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"USB storage device removed: " + kStickFields,
                                                        "USB storage device attached: " + kStickFields,
                                                        "USB storage device removed: " + kStickFields}));
}

TEST(DebugRun, LogsOnlyTheRemovalOfAStickThatWasIn)
{
    DeleteIfPresent(kDeviceLog);
    PlugBeforeStart();
    ChildProcess plugtrail(kPlugtrail, "-debug");
    ASSERT_TRUE(plugtrail.Started());
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(UsbSide("unplug " + Quoted(kStickId)), 0u);
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"USB storage device removed: " + kStickFields}));

    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(plugtrail.Wait(kRunMs), 0u);
    RemoveDevices();
    DeleteIfPresent(kDeviceLog);
}

TEST(DebugRun, SaysOnceThatAFolderHasTakenTheLogsNameAndRunsOn)
{
    DeleteIfPresent(kDeviceLog);
    ASSERT_TRUE(CreateDirectoryA(kDeviceLog, nullptr));
    MessageBoxWatcher watcher;
    ChildProcess plugtrail(kPlugtrail, "-debug");
    ASSERT_TRUE(plugtrail.Started());
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    EXPECT_NE(hwnd, nullptr);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(plugtrail.Wait(kRunMs), 0u);
    const auto boxes = watcher.Stop();
    RemoveDirectoryA(kDeviceLog);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No device can be logged: a folder has taken the name of the device log "
                             "C:\\_UsbDevices.log. Remove the folder and start Plugtrail again.");
    EXPECT_EQ(boxes[0].icon, BoxIcon::Error);
}

TEST(DebugRun, WindowOnThisDesktopIsFoundAndClosesTheRun)
{
    DeleteIfPresent(kDeviceLog);
    ChildProcess plugtrail(kPlugtrail, "-debug");
    ASSERT_TRUE(plugtrail.Started());
    const HWND hwnd = WaitForPlugtrailWindow(kRunMs);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(hwnd, FindWindowA(kPlugtrailWindowClass, kPlugtrailWindowTitle));
    EXPECT_TRUE(FileExists(kDeviceLog)) << "created at start";

    const std::string stick = std::string("\"") + kStickId + "\"";
    EXPECT_EQ(UsbSide("plug " + stick + " USBSTOR \"Stick\" \"Disk\" \"Maker\" \"\""), 0u);
    EXPECT_EQ(LoggedEvents(), (std::vector<std::string>{"USB storage device attached: 'Stick' / 'Disk' / 'Maker'"}));

    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(plugtrail.Wait(kRunMs), 0u);
    EXPECT_EQ(FindPlugtrailWindow(), nullptr);
    RemoveDevices();
    DeleteIfPresent(kDeviceLog);
}

}  // namespace

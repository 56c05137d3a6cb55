// The notification window. A process registers its window class once, so
// each scenario runs in a process of its own: the test of the same name in
// WindowTest starts this program again with only its WindowProcess twin
// selected, and that twin does the work.
#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app.h"
#include "device/device_change.h"
#include "device/notification_window.h"
#include "log/device_log.h"
#include "eventlog/event_log.h"
#include "eventlog/run.h"
#include "eventlog/run_state.h"
#include "service/service.h"
#include "support/message_box.h"
#include "support/processes.h"
#include "support/reported_events.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

namespace {

constexpr char ISOLATED_FLAG[] = "--isolated";

bool IsIsolated()
{
    return std::strstr(GetCommandLineA(), ISOLATED_FLAG) != nullptr;
}

// Runs WindowProcess.<name> in a new process; its exit code is gtest's.
DWORD RunIsolated(const char* pszName)
{
    ChildProcess child("window_tests.exe", std::string("--gtest_filter=WindowProcess.") + pszName + " " + ISOLATED_FLAG);
    return child.Started() ? child.Wait(120000) : 0xFFFFFFFF;
}

#define ISOLATED_ONLY()                                                        \
    do {                                                                       \
        if (!IsIsolated()) GTEST_SKIP() << "runs in a process of its own";   \
    } while (0)

std::string ClassName(HWND hwnd)
{
    char cls[256] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    return cls;
}

std::string Title(HWND hwnd)
{
    char text[256] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

// Waits up to dwMs for WM_QUIT to reach this thread.
bool QuitArrives(DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    MSG msg;
    while (GetTickCount() - dwStart < dwMs) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return true;
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return false;
}

HDEVNOTIFY WINAPI RefuseRegistration(HANDLE, LPVOID, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

}  // namespace

TEST(WindowTest, DebugModeShowsTheWindowAndCloseEndsTheRun) { EXPECT_EQ(0u, RunIsolated("DebugMode")); }
TEST(WindowTest, ServiceModeHidesTheWindowAndPumpsItsOwnLoop) { EXPECT_EQ(0u, RunIsolated("ServiceMode")); }
TEST(WindowTest, FailedClassRegistrationIsShown) { EXPECT_EQ(0u, RunIsolated("ClassRegistrationFails")); }
TEST(WindowTest, RefusedNotificationsEndADebugRunAndAreReported)
{
    EXPECT_EQ(0u, RunIsolated("NotificationsRefused"));
}

TEST(WindowProcess, DebugMode)
{
    ISOLATED_ONLY();
    bDebugMode = 1;
    theService.Init(PROGRAM_NAME, PROGRAM_NAME);
    ASSERT_TRUE(BeginRun().bBegun) << "a debug run begins before its window";
    MessageBoxWatcher watcher(GetCurrentProcessId());
    EXPECT_EQ(0u, CreateMainWindowProc(GetModuleHandleA(nullptr))) << "returns without a loop of its own";
    ASSERT_NE(nullptr, hwndMain);
    EXPECT_EQ(hwndMain, theService.hwnd);

    EXPECT_EQ("Plugtrail_MainWndClass", ClassName(hwndMain));
    EXPECT_EQ("Plugtrail", Title(hwndMain));
    EXPECT_TRUE(IsWindowVisible(hwndMain));
    // The system adds visibility and, for every top-level window, sibling clipping.
    EXPECT_EQ(0x80CA0000u, static_cast<DWORD>(GetWindowLongA(hwndMain, GWL_STYLE)) & ~(WS_VISIBLE | WS_CLIPSIBLINGS));
    EXPECT_EQ(0u, static_cast<DWORD>(GetWindowLongA(hwndMain, GWL_EXSTYLE)) & ~WS_EX_WINDOWEDGE);
    RECT rc = {};
    GetWindowRect(hwndMain, &rc);
    EXPECT_EQ(32, rc.left);
    EXPECT_EQ(32, rc.top);
    EXPECT_EQ(256, rc.right - rc.left);
    EXPECT_EQ(96, rc.bottom - rc.top);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(LoadCursorA(nullptr, IDC_ARROW)), GetClassLongPtrA(hwndMain, GCLP_HCURSOR));
    EXPECT_EQ(static_cast<ULONG_PTR>(COLOR_WINDOW + 1), GetClassLongPtrA(hwndMain, GCLP_HBRBACKGROUND));
    EXPECT_EQ(0u, GetClassLongPtrA(hwndMain, GCLP_HICON));
    EXPECT_EQ(0u, GetClassLongPtrA(hwndMain, GCL_STYLE));

    // A debug run: closing the window ends Run's loop on this thread, and
    // Run reports nothing to any SCM.
    theService.bService = 0;
    PostMessageA(hwndMain, WM_CLOSE, 0, 0);
    theService.Run();
    EXPECT_EQ(0u, theService.dwThreadId) << "an ended loop's thread is named no more";
    EXPECT_FALSE(IsWindow(hwndMain)) << "the default procedure destroyed it";
    EXPECT_EQ(nullptr, theService.hServiceStatus);
    EXPECT_TRUE(watcher.Stop().empty());
    EndRun(RunEnd::WindowClosed, 0, nullptr);
}

TEST(WindowProcess, ServiceMode)
{
    ISOLATED_ONLY();
    bDebugMode = 0;
    theService.Init(PROGRAM_NAME, PROGRAM_NAME);
    theService.dwThreadId = GetCurrentThreadId();  // as Run would have set it
    DeleteIfPresent(DEVICE_LOG_PATH);
    CDeviceInfoStore store;
    pDeviceStore = &store;

    HANDLE hThread = CreateThread(nullptr, 0, CreateMainWindowProc, GetModuleHandleA(nullptr), 0, nullptr);
    ASSERT_NE(nullptr, hThread);
    for (int i = 0; i < 200 && theService.hwnd == nullptr; ++i) Sleep(25);
    ASSERT_NE(nullptr, theService.hwnd);
    const HWND hwnd = theService.hwnd;
    EXPECT_EQ(hwndMain, hwnd);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ("Plugtrail", Title(hwnd));
    EXPECT_EQ(0u, GetClassLongPtrA(hwnd, GCLP_HCURSOR));
    EXPECT_EQ(0u, GetClassLongPtrA(hwnd, GCLP_HBRBACKGROUND));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hThread, 0)) << "the window thread stays in its loop";
    // Device events count once the service's run has begun and asked the
    // window to monitor.
    ASSERT_TRUE(BeginRun().bBegun);
    ASSERT_EQ(CService::StartAnswer::Monitoring, theService.AskWindowToBegin());

    // A posted message is handled only if the window thread pumps.
    SimulatedUsbDevice stick(UsbDeviceSpec{"USB\\VID_0781&PID_5567\\WINDOW1", "USBSTOR", "Stick", "Mass Storage",
                                           "Maker", ""});
    stick.SetPresent(true);
    const std::string path = stick.BroadcastPath();
    std::vector<char> record(offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record.data());
    rec->dbcc_size = static_cast<DWORD>(record.size());
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = kUsbDeviceInterfaceGuid;
    std::memcpy(rec->dbcc_name, path.c_str(), path.size() + 1);
    DWORD_PTR result = 0;
    ASSERT_NE(0, SendMessageTimeoutA(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(record.data()),
                                     SMTO_NORMAL, 10000, &result));
    const std::vector<std::string> lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("  USB storage device attached: 'Stick' / 'Mass Storage' / 'Maker'"))
        << lines[0];
    EXPECT_EQ(DefWindowProcA(hwnd, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), static_cast<LRESULT>(result));

    // Another program's WM_CLOSE, and a WM_QUIT posted to the window thread,
    // change nothing before the SCM asks for a stop: a later event is still
    // handled, on the same thread.
    ASSERT_NE(0, SendMessageTimeoutA(hwnd, WM_CLOSE, 0, 0, SMTO_NORMAL, 10000, &result));
    ASSERT_TRUE(PostThreadMessageA(GetWindowThreadProcessId(hwnd, nullptr), WM_QUIT, 0, 0));
    stick.SetPresent(false);
    ASSERT_NE(0, SendMessageTimeoutA(hwnd, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                                     reinterpret_cast<LPARAM>(record.data()), SMTO_NORMAL, 10000, &result));
    ASSERT_NE(0, SendMessageTimeoutA(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) << "the loop goes on";
    EXPECT_EQ(2u, ReadLines(DEVICE_LOG_PATH).size());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "no WM_QUIT for Run's thread";

    // The system's preshutdown ends the service as a stop does: WM_QUIT for
    // Run's thread, the window gone, the window thread still waiting in its
    // own loop. That WM_QUIT comes from the window thread once it has handled
    // everything before: while that thread cannot run, none comes.
    ASSERT_NE(static_cast<DWORD>(-1), SuspendThread(hThread));
    EXPECT_EQ(static_cast<DWORD>(NO_ERROR), CService::HandlerEntry(0x0000000F, 0, nullptr, nullptr));
    EXPECT_FALSE(QuitArrives(500)) << "Run's loop would end while a device event may still be handled";
    ResumeThread(hThread);
    EXPECT_TRUE(QuitArrives(10000));
    EXPECT_EQ(0x0000000Fu, theService.StopControl());
    for (int i = 0; i < 100 && IsWindow(hwnd); ++i) Sleep(20);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(hThread, 300));
    CloseHandle(hThread);
    EndRun(RunEnd::SystemShutdown, 0, nullptr);
    pDeviceStore = nullptr;
    stick.SetPresent(false);
    DeleteIfPresent(DEVICE_LOG_PATH);
}

TEST(WindowProcess, ClassRegistrationFails)
{
    ISOLATED_ONLY();
    bDebugMode = 0;
    theService.Init(PROGRAM_NAME, PROGRAM_NAME);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = MAIN_WINDOW_CLASS;
    ASSERT_NE(0, RegisterClassA(&wc));

    char szPlatform[1024] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_CLASS_ALREADY_EXISTS, 0, szPlatform, sizeof szPlatform,
                   nullptr);
    MessageBoxWatcher watcher(GetCurrentProcessId());
    EXPECT_EQ(0u, CreateMainWindowProc(GetModuleHandleA(nullptr))) << "returns once the box is answered";
    const std::vector<SeenMessageBox> boxes = watcher.Stop();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(std::string("Error registering the window class err=") + szPlatform, boxes[0].text);
    EXPECT_EQ("Plugtrail", boxes[0].caption);
    EXPECT_EQ(BoxIcon::Error, boxes[0].icon);
    EXPECT_EQ(nullptr, hwndMain);
    EXPECT_EQ(nullptr, theService.hwnd);
}

// A start that fails once the run has begun is on record: 110, the reason,
// and 111 "start failed". An earlier run's loss line is written, and its
// count cleared, by the first such start only.
TEST(WindowProcess, NotificationsRefused)
{
    ISOLATED_ONLY();
    bDebugMode = 1;
    theService.Init(PROGRAM_NAME, PROGRAM_NAME);
    pfnRegisterDeviceNotificationA = RefuseRegistration;
    DeleteIfPresent(DEVICE_LOG_PATH);
    OpenRunState();
    SaveLostLines(7);
    ReportedEvents events;
    ASSERT_TRUE(BeginRun().bBegun);
    MessageBoxWatcher watcher(GetCurrentProcessId());
    EXPECT_EQ(0u, CreateMainWindowProc(GetModuleHandleA(nullptr)));
    const std::vector<SeenMessageBox> boxes = watcher.Stop();
    EXPECT_EQ(nullptr, theService.hwnd) << "start-up ends the run";
    EndRun(RunEnd::StartFailed, 0, nullptr);
    ASSERT_TRUE(BeginRun().bBegun);
    EndRun(RunEnd::StartFailed, 0, nullptr);

    char szPlatform[1024] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, szPlatform, sizeof szPlatform,
                   nullptr);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(std::string("Device notifications could not be registered (error 5): ") + szPlatform, boxes[0].text);
    EXPECT_EQ(BoxIcon::Error, boxes[0].icon);
    std::vector<ReportedEvent> reported;
    for (const ReportedEvent& event : events.Take())
        if (event.dwId != EVENT_UNCLEAN_END) reported.push_back(event);
    ASSERT_EQ(5u, reported.size());
    EXPECT_EQ(EVENT_MONITORING_STARTED, reported[0].dwId);
    EXPECT_EQ(EVENT_NOTIFICATIONS_FAILED, reported[1].dwId);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, reported[1].wType);
    EXPECT_EQ("5", reported[1].strings.at(0));
    EXPECT_EQ(std::vector<std::string>{"start failed"}, reported[2].strings);
    EXPECT_EQ(EVENT_MONITORING_STOPPED, reported[4].dwId);
    EXPECT_EQ(0u, LoadLostLines());
    const std::vector<std::string> lines = ReadLines(DEVICE_LOG_PATH);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("  Plugtrail: 7 device log lines lost")) << lines[0];
}

// The service as the SCM sees it run: the states it reports, how it answers
// controls, and how it ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "eventlog/event_log.h"
#include "eventlog/run_state.h"
#include "service/scm_helpers.h"
#include "service/service.h"
#include "support/message_box.h"
#include "support/processes.h"
#include "support/reported_events.h"
#include "support/test_files.h"
#include "util/scoped_handle.h"

namespace {

constexpr char STATES_SERVICE[] = "PlugtrailTestStates";
constexpr DWORD USER_CONTROL = 128;

// A named event that the gated test service waits on before it reports a
// state (test_service gated).
class Gate {
public:
    explicit Gate(DWORD dwState)
    {
        char szName[32];
        std::snprintf(szName, sizeof szName, "PlugtrailTestGate%lu", dwState);
        m_h = CreateEventA(nullptr, TRUE, FALSE, szName);
        std::snprintf(szName, sizeof szName, "PlugtrailTestGate%luHeld", dwState);
        m_hHeld = CreateEventA(nullptr, TRUE, FALSE, szName);
    }
    ~Gate()
    {
        Open();
        CloseHandle(m_h);
        CloseHandle(m_hHeld);
    }
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    ::testing::AssertionResult Held() const
    {
        if (WaitForSingleObject(m_hHeld, 30000) == WAIT_OBJECT_0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the service did not reach its gate within 30 s";
    }
    void Open() { SetEvent(m_h); }

private:
    HANDLE m_h;
    HANDLE m_hHeld;
};

// Every distinct status the SCM shows, as the test waits for the next state.
class StatusWatch {
public:
    explicit StatusWatch(SC_HANDLE hService) : m_hService(hService) {}

    ::testing::AssertionResult WaitFor(DWORD dwState)
    {
        for (const DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 30000; Sleep(5)) {
            SERVICE_STATUS_PROCESS ssp = {};
            DWORD cb = 0;
            if (!QueryServiceStatusEx(m_hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp), sizeof ssp,
                                      &cb))
                continue;
            const SERVICE_STATUS status = {ssp.dwServiceType,   ssp.dwCurrentState,          ssp.dwControlsAccepted,
                                           ssp.dwWin32ExitCode, ssp.dwServiceSpecificExitCode, ssp.dwCheckPoint,
                                           ssp.dwWaitHint};
            if (ssp.dwProcessId != 0) pid = ssp.dwProcessId;
            if (seen.empty() || !SameStatus(seen.back(), status)) seen.push_back(status);
            if (status.dwCurrentState == dwState) return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "state " << dwState << " not reported within 30 s";
    }

    std::vector<SERVICE_STATUS> seen;
    DWORD pid = 0;

private:
    static bool SameStatus(const SERVICE_STATUS& a, const SERVICE_STATUS& b)
    {
        return a.dwCurrentState == b.dwCurrentState && a.dwControlsAccepted == b.dwControlsAccepted &&
               a.dwCheckPoint == b.dwCheckPoint && a.dwWaitHint == b.dwWaitHint;
    }

    SC_HANDLE m_hService;
};

DWORD WINAPI SendStop(LPVOID pService)
{
    SERVICE_STATUS status = {};
    return ControlService(static_cast<SC_HANDLE>(pService), SERVICE_CONTROL_STOP, &status) ? 0 : GetLastError();
}

DWORD WINAPI RunService(LPVOID)
{
    theService.Run();
    return 0;
}

// Stop and shutdown from RUNNING on, and preshutdown where the system is
// Vista or later (which a default Wine prefix claims to be).
DWORD ExpectedRunControls()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    EXPECT_TRUE(GetVersionExA(&version));
    return SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | (version.dwMajorVersion >= 6 ? 0x100u : 0u);
}

}  // namespace

// The test service holds in START_PENDING and in STOP_PENDING until the test
// lets it on, so the SCM is seen in every state it reports, and stops sent
// while it starts are sure to meet it starting.
TEST(ServiceRunTest, ReportsEachStateInOrderAndEndsWithZeroAfterStop)
{
    ASSERT_TRUE(CreateToolService(STATES_SERVICE, "serve gated"));
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle service(OpenServiceA(scm.get(), STATES_SERVICE, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
    Gate started(SERVICE_RUNNING);
    Gate stopping(SERVICE_STOPPED);
    StatusWatch watch(service.get());

    ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    ASSERT_TRUE(started.Held()) << "after its own START_PENDING";
    ASSERT_TRUE(watch.WaitFor(SERVICE_START_PENDING));
    // While it starts the service accepts nothing, like the SCM's own
    // placeholder before it: a stop taken now would be lost.
    SERVICE_STATUS ignored = {};
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(ControlService(service.get(), SERVICE_CONTROL_STOP, &ignored)) << "a stop while starting was taken";
    started.Open();
    ASSERT_TRUE(watch.WaitFor(SERVICE_RUNNING));

    // Interrogation and a user control change nothing.
    SERVICE_STATUS interrogated = {};
    EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_INTERROGATE, &interrogated));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), interrogated.dwCurrentState);
    std::printf("  user control %s\n", ControlService(service.get(), USER_CONTROL, &ignored) ? "delivered" : "refused");
    ASSERT_TRUE(watch.WaitFor(SERVICE_RUNNING));

    // The stop from a thread of its own, though it does not wait long: the
    // service holds in STOP_PENDING on its own thread.
    HANDLE hStop = CreateThread(nullptr, 0, SendStop, service.get(), 0, nullptr);
    ASSERT_NE(nullptr, hStop);
    EXPECT_TRUE(stopping.Held());
    EXPECT_TRUE(watch.WaitFor(SERVICE_STOP_PENDING));
    stopping.Open();
    EXPECT_TRUE(watch.WaitFor(SERVICE_STOPPED));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hStop, 30000));
    DWORD dwStopError = 0;
    GetExitCodeThread(hStop, &dwStopError);
    CloseHandle(hStop);
    EXPECT_EQ(0u, dwStopError) << "the stop was taken";

    // From RUNNING on it accepts stop and shutdown; no check point or wait
    // hint but while starting and stopping, whose hint covers the drain.
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& s : watch.seen) {
        std::printf("  state %lu accepts %lu checkpoint %lu hint %lu\n", s.dwCurrentState, s.dwControlsAccepted,
                    s.dwCheckPoint, s.dwWaitHint);
        if (s.dwCurrentState == SERVICE_STOPPED && states.empty()) continue;
        if (s.dwCurrentState != SERVICE_STOPPED) {
            EXPECT_EQ(s.dwCurrentState == SERVICE_START_PENDING ? 0u : ExpectedRunControls(), s.dwControlsAccepted)
                << "state " << s.dwCurrentState;
        }
        if (s.dwCurrentState == SERVICE_STOP_PENDING) {
            EXPECT_NE(0u, s.dwCheckPoint);
            EXPECT_GE(s.dwWaitHint, 5000u);
        } else if (s.dwCurrentState != SERVICE_START_PENDING) {
            EXPECT_EQ(0u, s.dwCheckPoint) << "state " << s.dwCurrentState;
            EXPECT_EQ(0u, s.dwWaitHint) << "state " << s.dwCurrentState;
        }
        EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), s.dwServiceType);
        if (states.empty() || states.back() != s.dwCurrentState) states.push_back(s.dwCurrentState);
    }
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}),
              states);

    HANDLE hProcess = watch.pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, watch.pid) : nullptr;
    ASSERT_NE(nullptr, hProcess);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 20000));
    DWORD dwExitCode = STILL_ACTIVE;
    GetExitCodeProcess(hProcess, &dwExitCode);
    EXPECT_EQ(0u, dwExitCode) << "the stop ended Run and the dispatcher returned";
    CloseHandle(hProcess);

    scm.reset();
    service.reset();
    RemoveService(STATES_SERVICE);
}

// Outside the SCM the dispatcher is refused at once: Start returns with the
// service flag cleared, shows nothing, and reports the error once.
TEST(ServiceRunTest, StartOutsideTheScmReturnsAtOnceWithFlagCleared)
{
    theService.Init("PlugtrailTestOutside", "PlugtrailTestOutside");
    MessageBoxWatcher watcher(GetCurrentProcessId());
    ReportedEvents events;
    theService.bService = 1;
    theService.Start();
    EXPECT_EQ(0, theService.bService);
    const std::vector<ReportedEvent> reported = events.Take();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(EVENT_SERVICE_ERROR, reported[0].dwId);
    EXPECT_EQ(EVENTLOG_ERROR_TYPE, reported[0].wType);
    EXPECT_EQ(std::vector<std::string>{"StartServiceCtrlDispatcher Error=1063"}, reported[0].strings);
    theService.Start();
    EXPECT_EQ(0, theService.bService);
    EXPECT_EQ(nullptr, theService.hServiceStatus);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), theService.status.dwCurrentState);
    EXPECT_TRUE(watcher.Stop().empty());
}

// Run has its message queue before it reports RUNNING, so the stop that the
// SCM may send from then on reaches it: a WM_QUIT posted while Run is held
// at that report, before its loop, must end that loop.
HANDLE hReachedRunning = nullptr;
HANDLE hQuitPosted = nullptr;

BOOL WINAPI HoldAtRunning(SERVICE_STATUS_HANDLE hStatus, LPSERVICE_STATUS pStatus)
{
    if (pStatus->dwCurrentState == SERVICE_RUNNING) {
        SetEvent(hReachedRunning);
        WaitForSingleObject(hQuitPosted, 30000);
    }
    return SetServiceStatus(hStatus, pStatus);
}

TEST(ServiceRunTest, AStopRightAfterRunningReachesRunsLoop)
{
    theService.Init("PlugtrailTestGap", "PlugtrailTestGap");
    theService.bService = 1;
    hReachedRunning = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    hQuitPosted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    pfnSetServiceStatus = HoldAtRunning;
    HANDLE hRun = CreateThread(nullptr, 0, RunService, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, hRun);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hReachedRunning, 30000)) << "Run never reported RUNNING";

    InterlockedExchange(&theService.lEndingControl, SERVICE_CONTROL_STOP);
    EXPECT_TRUE(PostThreadMessageA(theService.dwThreadId, WM_QUIT, 0, 0)) << GetLastError();
    SetEvent(hQuitPosted);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hRun, 30000)) << "Run's loop ended on that WM_QUIT";
    pfnSetServiceStatus = SetServiceStatus;
    CloseHandle(hRun);
    CloseHandle(hReachedRunning);
    CloseHandle(hQuitPosted);
    EXPECT_EQ(0u, theService.dwThreadId);
}

// Without device notifications the service cannot log a device: it stops at
// once with a service-specific exit code, which the SCM counts as a failure.
TEST(ServiceRunTest, AServiceThatCannotRegisterForDevicesStopsWithAFailureCode)
{
    constexpr char NAME[] = "PlugtrailTestNoNotify";
    ASSERT_TRUE(CreateToolService(NAME, "serve nonotify"));
    {
        ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        ScopedServiceHandle service(OpenServiceA(scm.get(), NAME, SERVICE_START | SERVICE_QUERY_STATUS));
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
        ASSERT_TRUE(WaitForServiceState(NAME, SERVICE_STOPPED, 30000));
        SERVICE_STATUS status = {};
        ASSERT_TRUE(QueryServiceStatus(service.get(), &status));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), status.dwWin32ExitCode);
        EXPECT_EQ(EVENT_NOTIFICATIONS_FAILED, status.dwServiceSpecificExitCode);
    }
    RemoveService(NAME);
}

// A starting service takes no stop: Uninstall waits for it to run, then stops
// and deletes it. One still starting at the timeout is left as it is, with
// its run state, and Uninstall fails.
TEST(ServiceRunTest, UninstallWaitsForAStartingServiceWithinTheTimeout)
{
    ASSERT_TRUE(CreateToolService(STATES_SERVICE, "serve gated"));
    Gate started(SERVICE_RUNNING);
    {
        ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        ScopedServiceHandle service(OpenServiceA(scm.get(), STATES_SERVICE, SERVICE_START));
        ASSERT_TRUE(StartServiceA(service.get(), 0, nullptr)) << GetLastError();
    }
    ASSERT_TRUE(started.Held());
    theService.Init(STATES_SERVICE, STATES_SERVICE);
    EXPECT_EQ(0, theService.Uninstall(1000, FALSE));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_START_PENDING), ServiceState(STATES_SERVICE));
    HKEY hRunState = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY, 0, KEY_READ, &hRunState));
    RegCloseKey(hRunState);
    std::thread opener([&] {
        Sleep(500);
        started.Open();
    });
    EXPECT_EQ(1, theService.Uninstall(10000, FALSE));
    opener.join();
    EXPECT_FALSE(ServiceExists(STATES_SERVICE));
}

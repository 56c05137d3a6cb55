// The service as the SCM sees it run: the states it reports, how it answers
// controls, and how it ends.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "service/scm_helpers.h"
#include "service/service.h"
#include "log/trace.h"
#include "log/event_log.h"
#include "support/message_box.h"
#include "support/processes.h"
#include "support/reported_events.h"
#include "support/test_files.h"
#include "util/scoped_handle.h"

namespace {

constexpr char STATES_SERVICE[] = "PlugtrailTestStates";
constexpr DWORD USER_CONTROL = 128;

// Starts the service, then sends it controls once it runs, from a thread of
// its own: the test thread keeps watching the SCM meanwhile.
struct Controller {
    SC_HANDLE hService = nullptr;
    HANDLE hRunning = nullptr;  // set by the test once the service runs
    BOOL bStarted = FALSE;
    BOOL bInterrogated = FALSE;
    SERVICE_STATUS interrogateStatus = {};
    BOOL bUserControl = FALSE;
    SERVICE_STATUS afterOthers = {};
    BOOL bStopped = FALSE;
    int stopsWhileStarting = 0;
    int stopsTakenWhileStarting = 0;

    static DWORD WINAPI Proc(LPVOID p)
    {
        auto* c = static_cast<Controller*>(p);
        c->bStarted = StartServiceA(c->hService, 0, nullptr);
        // Stops while the service starts (seconds, with its trace held) must
        // be refused: until it runs, nothing could carry one to its loop.
        SERVICE_STATUS now = {};
        while (c->bStarted && QueryServiceStatus(c->hService, &now) && now.dwCurrentState == SERVICE_START_PENDING) {
            ++c->stopsWhileStarting;
            if (ControlService(c->hService, SERVICE_CONTROL_STOP, &now)) ++c->stopsTakenWhileStarting;
            Sleep(50);
        }
        if (!c->bStarted || WaitForSingleObject(c->hRunning, 60000) != WAIT_OBJECT_0) return 0;
        c->bInterrogated = ControlService(c->hService, SERVICE_CONTROL_INTERROGATE, &c->interrogateStatus);
        SERVICE_STATUS ignored = {};
        c->bUserControl = ControlService(c->hService, USER_CONTROL, &ignored);
        QueryServiceStatus(c->hService, &c->afterOthers);
        c->bStopped = ControlService(c->hService, SERVICE_CONTROL_STOP, &ignored);
        return 0;
    }
};

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

bool SameStatus(const SERVICE_STATUS& a, const SERVICE_STATUS& b)
{
    return a.dwCurrentState == b.dwCurrentState && a.dwControlsAccepted == b.dwControlsAccepted &&
           a.dwCheckPoint == b.dwCheckPoint && a.dwWaitHint == b.dwWaitHint;
}

}  // namespace

// The service traces every step into a file that another process holds, so
// each trace line waits about two seconds for the file: long enough for the
// SCM to be seen in every state the service reports, even start-pending.
TEST(ServiceRunTest, ReportsEachStateInOrderAndEndsWithZeroAfterStop)
{
    DeleteIfPresent(TRACE_LOG_PATH);
    ASSERT_TRUE(CreateToolService(STATES_SERVICE, "serve tracefile"));
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle service(OpenServiceA(scm.get(), STATES_SERVICE, SERVICE_ALL_ACCESS));
    ASSERT_TRUE(service);
    FileHolder holder(TRACE_LOG_PATH, 26000);
    ASSERT_TRUE(holder.Held());

    Controller controller;
    controller.hService = service.get();
    controller.hRunning = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE hController = CreateThread(nullptr, 0, Controller::Proc, &controller, 0, nullptr);
    ASSERT_NE(nullptr, hController);

    // Every distinct status the SCM shows until the service has stopped.
    std::vector<SERVICE_STATUS> seen;
    DWORD pid = 0;
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < 60000) {
        SERVICE_STATUS_PROCESS ssp = {};
        DWORD cb = 0;
        if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp), sizeof ssp,
                                 &cb)) {
            SERVICE_STATUS status = {ssp.dwServiceType,   ssp.dwCurrentState,          ssp.dwControlsAccepted,
                                     ssp.dwWin32ExitCode, ssp.dwServiceSpecificExitCode, ssp.dwCheckPoint,
                                     ssp.dwWaitHint};
            if (ssp.dwProcessId != 0) pid = ssp.dwProcessId;
            if (seen.empty() || !SameStatus(seen.back(), status)) seen.push_back(status);
            if (status.dwCurrentState == SERVICE_RUNNING) SetEvent(controller.hRunning);
            if (status.dwCurrentState == SERVICE_STOPPED && seen.size() > 1) break;
        }
        Sleep(20);
    }
    HANDLE hProcess = pid ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid) : nullptr;
    SetEvent(controller.hRunning);
    WaitForSingleObject(hController, 60000);
    CloseHandle(hController);
    CloseHandle(controller.hRunning);

    for (const SERVICE_STATUS& s : seen)
        std::printf("  state %lu accepts %lu checkpoint %lu hint %lu\n", s.dwCurrentState, s.dwControlsAccepted,
                    s.dwCheckPoint, s.dwWaitHint);
    EXPECT_TRUE(controller.bStarted);
    EXPECT_TRUE(controller.bStopped);

    // While it starts the service accepts nothing, like the SCM's own
    // placeholder before it; from RUNNING on it accepts stop and shutdown.
    EXPECT_GT(controller.stopsWhileStarting, 0);
    EXPECT_EQ(0, controller.stopsTakenWhileStarting) << "a stop while starting was taken, and lost";
    std::vector<DWORD> states;
    for (const SERVICE_STATUS& s : seen) {
        if (s.dwCurrentState == SERVICE_STOPPED && states.empty()) continue;
        if (s.dwCurrentState != SERVICE_STOPPED) {
            EXPECT_EQ(s.dwCurrentState == SERVICE_START_PENDING ? 0u : ExpectedRunControls(), s.dwControlsAccepted)
                << "state " << s.dwCurrentState;
        }
        if (s.dwCurrentState != SERVICE_START_PENDING) {
            EXPECT_EQ(0u, s.dwCheckPoint) << "state " << s.dwCurrentState;
            EXPECT_EQ(0u, s.dwWaitHint) << "state " << s.dwCurrentState;
        }
        EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), s.dwServiceType);
        if (states.empty() || states.back() != s.dwCurrentState) states.push_back(s.dwCurrentState);
    }
    EXPECT_EQ((std::vector<DWORD>{SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}),
              states);

    // Interrogation and a user control changed nothing.
    EXPECT_TRUE(controller.bInterrogated);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), controller.interrogateStatus.dwCurrentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), controller.afterOthers.dwCurrentState);
    std::printf("  user control %s\n", controller.bUserControl ? "delivered" : "refused");

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
// SCM may send from then on reaches it. Its trace is held by another process,
// so Run waits seconds between reporting RUNNING and its loop: the stop's
// WM_QUIT lands in exactly that gap.
TEST(ServiceRunTest, AStopRightAfterRunningReachesRunsLoop)
{
    DeleteIfPresent(TRACE_LOG_PATH);
    theService.Init("PlugtrailTestGap", "PlugtrailTestGap");
    theService.bService = 1;
    FileHolder holder(TRACE_LOG_PATH, 15000);
    ASSERT_TRUE(holder.Held());
    bTraceToFile = 1;
    HANDLE hRun = CreateThread(nullptr, 0, RunService, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, hRun);
    while (theService.status.dwCurrentState != SERVICE_RUNNING) Sleep(1);

    InterlockedExchange(&theService.lStopRequested, 1);
    EXPECT_TRUE(PostThreadMessageA(theService.dwThreadId, WM_QUIT, 0, 0)) << GetLastError();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hRun, 30000)) << "Run's loop ended on that WM_QUIT";
    bTraceToFile = 0;
    CloseHandle(hRun);
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

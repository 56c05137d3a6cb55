// The real Plugtrail.exe started with the command lines an administrator
// types: what it installs, runs or refuses, what it says, and its exit code.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "service/scm_helpers.h"
#include "support/message_box.h"
#include "support/plugtrail_window.h"
#include "support/processes.h"
#include "eventlog/run_state.h"
#include "plugtrail_product.h"

namespace {

constexpr char kService[] = PLUGTRAIL_SERVICE_NAME;
constexpr char kExe[] = "..\\Plugtrail.exe";

const std::string kUsage =
    "Plugtrail -Install  \t  installs it as Win32 service and starts the service (Admin previleges required)\n"
    "Plugtrail -Uninstall\t  uninstalls the service\n"
    "Plugtrail -Debug    \t  starts it as normal program (Admin previleges required)";

struct RunResult {
    DWORD exitCode;
    std::vector<SeenMessageBox> boxes;
};

// Starts Plugtrail with args, answers its boxes, and waits for it to end.
RunResult RunPlugtrail(const std::string& args)
{
    MessageBoxWatcher watcher;
    ChildProcess child(kExe, args);
    EXPECT_TRUE(child.Started()) << args << ": error " << child.Error();
    const DWORD code = child.Wait(60000);
    return RunResult{code, watcher.Stop()};
}

::testing::AssertionResult OneBox(const RunResult& run, const std::string& text, const char* caption, BoxIcon icon)
{
    if (run.boxes.size() != 1) return ::testing::AssertionFailure() << run.boxes.size() << " boxes";
    const SeenMessageBox& box = run.boxes[0];
    if (box.text != text || box.caption != caption || box.icon != icon)
        return ::testing::AssertionFailure() << "box '" << box.text << "' caption '" << box.caption << "' icon "
                                             << BoxIconName(box.icon);
    return ::testing::AssertionSuccess();
}

constexpr char kEventSourceKey[] = PLUGTRAIL_EVENT_SOURCE_KEY;

// A value of the event source's registration as "TYPE:VALUE"; "" without the key.
std::string EventSourceValue(const char* pszName)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return "";
    char data[MAX_PATH + 1] = {};
    DWORD cbData = MAX_PATH, dwType = REG_NONE;
    RegQueryValueExA(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(data), &cbData);
    RegCloseKey(hKey);
    return std::to_string(dwType) + ":" +
           (dwType == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data)) : std::string(data));
}

// Run, Sequence, Clean and LostLines, as the run state holds them.
std::string RunStateValues()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return "";
    std::string values;
    for (const char* pszName : {"Run", "Sequence", "Clean", "LostLines"}) {
        BYTE data[64] = {};
        DWORD cb = sizeof data - 1, dwType = REG_NONE;
        RegQueryValueExA(hKey, pszName, nullptr, &dwType, data, &cb);
        values += std::string(pszName) + "=" +
                  (dwType == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data))
                                       : std::string(reinterpret_cast<char*>(data))) + " ";
    }
    RegCloseKey(hKey);
    return values;
}

bool RunStateKeyExists(const char* pszKey = RUN_STATE_KEY)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveService(kService); }
    void TearDown() override
    {
        if (HWND hwnd = FindWindowA(kPlugtrailWindowClass, kPlugtrailWindowTitle)) PostMessageA(hwnd, WM_CLOSE, 0, 0);
        RemoveService(kService);
    }
};

}  // namespace

TEST_F(ProgramTest, CommandLinesThatSelectNothingShowTheUsage)
{
    ASSERT_EQ(227u, kUsage.size());
    for (const char* args : {"-foo", "-?", "/", "-", "/x/y", ""}) {
        const RunResult run = RunPlugtrail(args);
        EXPECT_EQ(1u, run.exitCode) << "'" << args << "'";
        EXPECT_TRUE(OneBox(run, kUsage, "Plugtrail", BoxIcon::Error)) << "'" << args << "'";
    }
    EXPECT_FALSE(ServiceExists(kService));
}

TEST_F(ProgramTest, SilentInstallInAnyCaseInstallsAndStartsWithoutAWord)
{
    RunResult run = RunPlugtrail("-SilentInstall");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 20000));
    EXPECT_NE(nullptr, WaitForPlugtrailWindow(20000)) << "the service run has created its window";

    run = RunPlugtrail("-silentinstall");
    EXPECT_EQ(1u, run.exitCode) << "installed already counts as success";
    EXPECT_TRUE(run.boxes.empty());

    run = RunPlugtrail("-SILENTUNINSTALL");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(ServiceExists(kService));
}

TEST_F(ProgramTest, InstallAndUninstallSayWhatTheyDid)
{
    RunResult run = RunPlugtrail("/debug/install");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(OneBox(run, "Service installed and started", kService, BoxIcon::Information));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 20000));
    // The event source is registered with the installed executable's messages.
    char szExe[MAX_PATH];
    ASSERT_NE(0u, GetFullPathNameA((ExeDirectory() + kExe).c_str(), MAX_PATH, szExe, nullptr));
    EXPECT_EQ("2:" + std::string(szExe), EventSourceValue("EventMessageFile")) << "REG_EXPAND_SZ";
    EXPECT_EQ("4:7", EventSourceValue("TypesSupported")) << "REG_DWORD";
    EXPECT_TRUE(RunStateKeyExists()) << "the running service keeps its state";
    EXPECT_TRUE(RunStateKeyExists("SOFTWARE\\Plugtrail\\Devices")) << "and the devices it knows";

    run = RunPlugtrail("-install");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(OneBox(run, "Service is already installed", kService, BoxIcon::Information));

    run = RunPlugtrail("-Uninstall");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(OneBox(run, "Service uninstalled", kService, BoxIcon::Information));
    EXPECT_FALSE(ServiceExists(kService));
    EXPECT_EQ("", EventSourceValue("EventMessageFile")) << "the event source is removed with the service";
    EXPECT_FALSE(RunStateKeyExists()) << "and so is the program's state, with its subkey";

    run = RunPlugtrail("/uninstall");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(OneBox(run, "Service is not installed", kService, BoxIcon::Information));
}

TEST_F(ProgramTest, ASpaceBeforeTheNextOptionBelongsToTheToken)
{
    // "debug " matches nothing, so "install" runs.
    RunResult run = RunPlugtrail("-debug -install");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(OneBox(run, "Service installed and started", kService, BoxIcon::Information));
    RemoveService(kService);

    // "install " matches nothing, so "debug" selects a debug run.
    MessageBoxWatcher watcher;
    ChildProcess debugRun(kExe, "-install -debug");
    const HWND hwnd = WaitForPlugtrailWindow(20000);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(ServiceExists(kService));
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, debugRun.Wait(20000));
    EXPECT_TRUE(watcher.Stop().empty());
}

TEST_F(ProgramTest, ASecondInstanceIsRefused)
{
    ChildProcess first(kExe, "-Debug");
    const HWND hwnd = WaitForPlugtrailWindow(20000);
    ASSERT_NE(nullptr, hwnd);
    EXPECT_TRUE(IsWindowVisible(hwnd));

    RunResult second = RunPlugtrail("/debug");
    EXPECT_EQ(1u, second.exitCode);
    EXPECT_TRUE(OneBox(second, "Cannot run while another instance is running", "Plugtrail", BoxIcon::Error));

    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, first.Wait(20000)) << "closing the window ends the debug run";
}

TEST_F(ProgramTest, ADebugRunIsRefusedWhileTheServiceRuns)
{
    ASSERT_EQ(1u, RunPlugtrail("-silentinstall").exitCode);
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 20000));

    const RunResult run = RunPlugtrail("debug");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(
        OneBox(run, "Cannot run while another instance is running as service", "Plugtrail", BoxIcon::Error));
}

// Started without an option while the service runs, as an administrator
// double-clicking it would, the program begins no run: the dispatcher
// refuses it, and that is all it reports (the event_no_second_run entry
// reads its events).
TEST_F(ProgramTest, AnOptionLessStartWhileTheServiceRunsLeavesTheServicesRunAlone)
{
    ASSERT_EQ(1u, RunPlugtrail("-silentinstall").exitCode);
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 20000));
    const std::string before = RunStateValues();
    const RunResult run = RunPlugtrail("");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(before, RunStateValues());
}

// The service and a debug run hold the machine's one run in turn: a service
// started while a debug run goes on stops at once with a failure code.
TEST_F(ProgramTest, ADebugRunAndAServiceStartExcludeEachOther)
{
    ChildProcess debugRun(kExe, "-Debug");
    const HWND hwnd = WaitForPlugtrailWindow(20000);
    ASSERT_NE(nullptr, hwnd);
    RunPlugtrail("-silentinstall");
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED, 20000));
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(scm, kService, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    EXPECT_TRUE(QueryServiceStatus(service, &status));
    CloseServiceHandle(service);
    CloseServiceHandle(scm);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR), status.dwWin32ExitCode);
    EXPECT_EQ(122u, status.dwServiceSpecificExitCode);
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(0u, debugRun.Wait(20000));
}

TEST_F(ProgramTest, AStopThroughTheScmEndsTheServiceProcessWithExitCode0)
{
    ASSERT_EQ(1u, RunPlugtrail("-silentinstall").exitCode);
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 20000));
    ASSERT_NE(nullptr, WaitForPlugtrailWindow(20000));
    DWORD pid = 0;
    ServiceState(kService, &pid);
    ASSERT_NE(0u, pid);
    HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    ASSERT_NE(nullptr, hProcess);

    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(scm, kService, SERVICE_STOP);
    SERVICE_STATUS status = {};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    CloseServiceHandle(service);
    CloseServiceHandle(scm);

    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 20000));
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(hProcess, &code);
    CloseHandle(hProcess);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kService));
}

// Installing, querying and removing real service entries through the SCM,
// with the message boxes each step shows.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "plugtrail_product.h"

#include "service/scm_helpers.h"
#include "service/service.h"
#include "service/service_config.h"
#include "support/message_box.h"
#include "support/processes.h"
#include "util/scoped_handle.h"

namespace {

constexpr char INSTALLED[] = "PlugtrailTestInstall";
constexpr char SLOW[] = "PlugtrailTestSlowStop";
constexpr char DESCRIPTION[] = PLUGTRAIL_DESCRIPTION;

struct Box {
    std::string text;
    std::string caption;
    BoxIcon icon;
};

std::vector<Box> Simplify(const std::vector<SeenMessageBox>& seen)
{
    std::vector<Box> boxes;
    for (const SeenMessageBox& b : seen) boxes.push_back({b.text, b.caption, b.icon});
    return boxes;
}

bool operator==(const Box& a, const Box& b)
{
    return a.text == b.text && a.caption == b.caption && a.icon == b.icon;
}

void PrintTo(const Box& b, std::ostream* os)
{
    *os << "{\"" << b.text << "\", \"" << b.caption << "\", " << BoxIconName(b.icon) << "}";
}

// Install run by the tool, so that the registered executable is the tool:
// the result is the exit code, the boxes are read from the tool's process.
struct ToolInstall {
    DWORD result;
    std::vector<Box> boxes;
};

ToolInstall InstallWithTool(const char* pszName, bool bShow)
{
    MessageBoxWatcher watcher;
    ChildProcess tool("test_service.exe", std::string("install ") + pszName + (bShow ? " 1" : " 0"));
    const DWORD code = tool.Started() ? tool.Wait(60000) : 0xFFFFFFFF;
    return {code, Simplify(watcher.Stop())};
}

// Uninstall from this process, under the given service name.
struct UninstallRun {
    BOOL result;
    DWORD dwElapsedMs;
    std::vector<Box> boxes;
};

UninstallRun UninstallHere(const char* pszName, DWORD dwTimeoutMs, BOOL bShow)
{
    theService.Init(pszName, pszName);
    MessageBoxWatcher watcher(GetCurrentProcessId());
    const DWORD dwStart = GetTickCount();
    const BOOL result = theService.Uninstall(dwTimeoutMs, bShow);
    const DWORD dwElapsed = GetTickCount() - dwStart;
    return {result, dwElapsed, Simplify(watcher.Stop())};
}

struct Config {
    DWORD type = 0, start = 0, errorControl = 0;
    std::string path, displayName, description;
};

bool ReadConfig(const char* pszName, Config* pConfig)
{
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    ScopedServiceHandle service(scm ? OpenServiceA(scm.get(), pszName, SERVICE_QUERY_CONFIG) : nullptr);
    if (!service) return false;
    std::vector<BYTE> buffer(8192);
    DWORD cb = 0;
    if (!QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                             static_cast<DWORD>(buffer.size()), &cb))
        return false;
    const auto* qsc = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    pConfig->type = qsc->dwServiceType;
    pConfig->start = qsc->dwStartType;
    pConfig->errorControl = qsc->dwErrorControl;
    pConfig->path = qsc->lpBinaryPathName ? qsc->lpBinaryPathName : "";
    pConfig->displayName = qsc->lpDisplayName ? qsc->lpDisplayName : "";
    if (QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                             static_cast<DWORD>(buffer.size()), &cb)) {
        const auto* sd = reinterpret_cast<SERVICE_DESCRIPTIONA*>(buffer.data());
        pConfig->description = sd->lpDescription ? sd->lpDescription : "";
    }
    return true;
}

// Runs Uninstall on a thread of its own, so that an Uninstall that overruns
// fails the test instead of holding it.
struct BoundedUninstall {
    DWORD dwTimeoutMs;
    BOOL result = -1;
    static DWORD WINAPI Proc(LPVOID p)
    {
        auto* u = static_cast<BoundedUninstall*>(p);
        u->result = theService.Uninstall(u->dwTimeoutMs, FALSE);
        return 0;
    }
};

// Registers the slow-stopping test service with the tool's arguments and
// starts it; true once it runs.
::testing::AssertionResult StartSlowService(const char* pszArgs)
{
    if (!CreateToolService(SLOW, pszArgs)) return ::testing::AssertionFailure() << "not created";
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle service(OpenServiceA(scm.get(), SLOW, SERVICE_START));
    if (!StartServiceA(service.get(), 0, nullptr))
        return ::testing::AssertionFailure() << "StartServiceA failed, error " << GetLastError();
    if (!WaitForServiceState(SLOW, SERVICE_RUNNING, 20000)) return ::testing::AssertionFailure() << "not running";
    return ::testing::AssertionSuccess();
}

class ServiceInstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveService(INSTALLED);
        RemoveService(SLOW);
    }
    void TearDown() override
    {
        RemoveService(INSTALLED);
        RemoveService(SLOW);
    }
};

// What the service's settings routine hands to the system, recorded: the
// level, and the record's content as text.
struct HandedSetting {
    DWORD dwLevel;
    std::string content;
};
std::vector<HandedSetting> handed;
DWORD dwRefuseFromLevel = 0;  // levels from this one on are refused (0: none)

BOOL WINAPI RecordSetting(SC_HANDLE, DWORD dwLevel, LPVOID pInfo)
{
    std::string content;
    if (dwLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto* pActions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(pInfo);
        content = "reset " + std::to_string(pActions->dwResetPeriod);
        for (DWORD i = 0; i < pActions->cActions; ++i)
            content += (pActions->lpsaActions[i].Type == SC_ACTION_RESTART ? ", restart " : ", other ") +
                       std::to_string(pActions->lpsaActions[i].Delay);
    } else if (dwLevel == 4) {  // SERVICE_CONFIG_FAILURE_ACTIONS_FLAG
        content = "flag " + std::to_string(*static_cast<const BOOL*>(pInfo));
    } else if (dwLevel == 6) {  // SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO: a wide multi-string
        for (const wchar_t* p = *static_cast<const wchar_t* const*>(pInfo); *p != L'\0'; ++p)
            for (; *p != L'\0'; ++p) content += static_cast<char>(*p);
    }
    handed.push_back({dwLevel, content});
    if (dwRefuseFromLevel != 0 && dwLevel >= dwRefuseFromLevel) {
        SetLastError(dwLevel == SERVICE_CONFIG_FAILURE_ACTIONS ? ERROR_ACCESS_DENIED : ERROR_INVALID_LEVEL);
        return FALSE;
    }
    return TRUE;
}

void NoteRefusal(void* pContext, DWORD dwLevel, DWORD dwError)
{
    static_cast<std::vector<std::string>*>(pContext)->push_back(std::to_string(dwLevel) + ":" +
                                                                std::to_string(dwError));
}

}  // namespace

TEST_F(ServiceInstallTest, InstallRegistersAndStartsTheServiceOnce)
{
    const ToolInstall first = InstallWithTool(INSTALLED, true);
    EXPECT_EQ(1u, first.result);
    EXPECT_EQ((std::vector<Box>{{"Service installed and started", INSTALLED, BoxIcon::Information}}), first.boxes);

    Config config;
    ASSERT_TRUE(ReadConfig(INSTALLED, &config));
    EXPECT_EQ(0x10u, config.type) << "its own process, not interactive";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.start);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.errorControl);
    EXPECT_EQ(QuotedToolPath(), config.path) << "the executable path, quoted, without arguments";
    EXPECT_EQ(INSTALLED, config.displayName);
    EXPECT_EQ(DESCRIPTION, config.description);

    ASSERT_TRUE(WaitForServiceState(INSTALLED, SERVICE_RUNNING, 20000));
    theService.Init(INSTALLED, INSTALLED);
    {
        MessageBoxWatcher watcher(GetCurrentProcessId());
        EXPECT_TRUE(theService.IsInstalled());
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), theService.QueryState());
        EXPECT_TRUE(watcher.Stop().empty());
    }
    DWORD pid = 0;
    ServiceState(INSTALLED, &pid);

    const ToolInstall again = InstallWithTool(INSTALLED, true);
    EXPECT_EQ(1u, again.result);
    EXPECT_EQ((std::vector<Box>{{"Service is already installed", INSTALLED, BoxIcon::Information}}), again.boxes);
    const ToolInstall silentAgain = InstallWithTool(INSTALLED, false);
    EXPECT_EQ(1u, silentAgain.result);
    EXPECT_TRUE(silentAgain.boxes.empty());
    DWORD pidAfter = 0;
    ServiceState(INSTALLED, &pidAfter);
    EXPECT_EQ(pid, pidAfter) << "nothing was started again";
}

// What -Install and the package's custom action hand to the SCM: a restart
// after 5 s, then after 60 s for every later failure, the count reset after
// a day; the failure-actions flag; one privilege. A system that refuses
// Vista's two settings is only told of, one that refuses the recovery fails.
TEST(ServiceSettings, RecoveryAndPrivilegesAsTheSystemIsAskedForThem)
{
    std::vector<std::string> refusals;
    handed.clear();
    dwRefuseFromLevel = 0;
    pfnChangeServiceConfig2W = RecordSetting;
    EXPECT_TRUE(ApplyRecoveryAndPrivileges(nullptr, NoteRefusal, &refusals));
    ASSERT_EQ(3u, handed.size());
    EXPECT_EQ("reset 86400, restart 5000, restart 60000", handed[0].content);
    EXPECT_EQ("flag 1", handed[1].content);
    EXPECT_EQ("SeIncreaseWorkingSetPrivilege", handed[2].content);
    EXPECT_TRUE(refusals.empty());

    dwRefuseFromLevel = 4;  // an XP that knows neither
    EXPECT_TRUE(ApplyRecoveryAndPrivileges(nullptr, NoteRefusal, &refusals));
    EXPECT_EQ((std::vector<std::string>{"4:124", "6:124"}), refusals);
    refusals.clear();
    dwRefuseFromLevel = SERVICE_CONFIG_FAILURE_ACTIONS;
    EXPECT_FALSE(ApplyRecoveryAndPrivileges(nullptr, NoteRefusal, &refusals));
    dwRefuseFromLevel = 0;
    pfnChangeServiceConfig2W = ChangeServiceConfig2W;
}

// What the SCM keeps of the recovery that -Install sets.
TEST_F(ServiceInstallTest, TheScmKeepsTheRecoveryThatInstallSets)
{
    ASSERT_EQ(1u, InstallWithTool(INSTALLED, false).result);
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle service(OpenServiceA(scm.get(), INSTALLED, SERVICE_QUERY_CONFIG));
    BYTE buffer[1024];
    DWORD cb = 0;
    if (!QueryServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer, sizeof buffer, &cb)) {
        const DWORD dwError = GetLastError();
        // Wine 8 takes failure actions without storing them.
        GTEST_SKIP() << "this SCM keeps no failure actions: QueryServiceConfig2 answers " << dwError;
    }
    const auto* pActions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSA*>(buffer);
    EXPECT_EQ(86400u, pActions->dwResetPeriod);
    ASSERT_EQ(2u, pActions->cActions);
    EXPECT_EQ(SC_ACTION_RESTART, pActions->lpsaActions[0].Type);
    EXPECT_EQ(5000u, pActions->lpsaActions[0].Delay);
    EXPECT_EQ(60000u, pActions->lpsaActions[1].Delay);
}

// A service that ends before it reaches the dispatcher stays installed, set
// to start automatically, and the install says it failed.
TEST_F(ServiceInstallTest, InstallReportsAServiceThatFailsToStart)
{
    const char flag[] = "C:\\_test_service_dies";
    CloseHandle(CreateFileA(flag, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const ToolInstall install = InstallWithTool(INSTALLED, true);
    DeleteFileA(flag);

    EXPECT_EQ(0u, install.result);
    EXPECT_EQ((std::vector<Box>{{"Service installed but failed to start", INSTALLED, BoxIcon::Warning}}),
              install.boxes);
    Config config;
    ASSERT_TRUE(ReadConfig(INSTALLED, &config));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.start);
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(INSTALLED));
}

// A running service is stopped, its process ends with 0 and the entry goes;
// after that there is nothing to uninstall and nothing to query.
TEST_F(ServiceInstallTest, UninstallStopsARunningServiceAndDeletesIt)
{
    const ToolInstall install = InstallWithTool(INSTALLED, false);
    ASSERT_EQ(1u, install.result);
    EXPECT_TRUE(install.boxes.empty()) << "a silent install shows nothing";
    ASSERT_TRUE(WaitForServiceState(INSTALLED, SERVICE_RUNNING, 20000));
    DWORD pid = 0;
    ServiceState(INSTALLED, &pid);
    HANDLE hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    ASSERT_NE(nullptr, hProcess);

    const UninstallRun run = UninstallHere(INSTALLED, 10000, TRUE);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ((std::vector<Box>{{"Service uninstalled", INSTALLED, BoxIcon::Information}}), run.boxes);
    EXPECT_FALSE(ServiceExists(INSTALLED));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hProcess, 20000));
    DWORD dwExitCode = STILL_ACTIVE;
    GetExitCodeProcess(hProcess, &dwExitCode);
    EXPECT_EQ(0u, dwExitCode) << "the stop ended Run and the dispatcher returned";
    CloseHandle(hProcess);

    const UninstallRun again = UninstallHere(INSTALLED, 10000, TRUE);
    EXPECT_EQ(1, again.result);
    EXPECT_EQ((std::vector<Box>{{"Service is not installed", INSTALLED, BoxIcon::Information}}), again.boxes);
    const UninstallRun silentAgain = UninstallHere(INSTALLED, 10000, FALSE);
    EXPECT_EQ(1, silentAgain.result);
    EXPECT_TRUE(silentAgain.boxes.empty());

    MessageBoxWatcher watcher(GetCurrentProcessId());
    EXPECT_FALSE(theService.IsInstalled());
    EXPECT_EQ(0u, theService.QueryState());
    EXPECT_TRUE(watcher.Stop().empty());
}

TEST_F(ServiceInstallTest, UninstallDeletesAStoppedServiceSilently)
{
    ASSERT_TRUE(CreateToolService(INSTALLED, ""));
    const UninstallRun run = UninstallHere(INSTALLED, 10000, FALSE);
    EXPECT_EQ(1, run.result);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(ServiceExists(INSTALLED));
}

// Stop-pending past the timeout: the caption-less warning, result 0, and the
// entry stays.
TEST_F(ServiceInstallTest, UninstallGivesUpOnAServiceStillStopPendingAtTheTimeout)
{
    ASSERT_TRUE(StartSlowService("serve stopdelay=8000"));

    const UninstallRun run = UninstallHere(SLOW, 1500, TRUE);
    EXPECT_EQ(0, run.result);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ("Service could not be stopped", run.boxes[0].text);
    EXPECT_NE(SLOW, run.boxes[0].caption) << "no caption of ours: the system's default";
    EXPECT_EQ("Error", run.boxes[0].caption);
    EXPECT_EQ(BoxIcon::Warning, run.boxes[0].icon);
    EXPECT_GE(run.dwElapsedMs, 1500u);
    EXPECT_TRUE(ServiceExists(SLOW)) << "not deleted";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), ServiceState(SLOW));
}

// A wait hint far beyond the timeout must not stretch the wait: Uninstall
// still gives up at its own timeout.
TEST_F(ServiceInstallTest, UninstallKeepsItsTimeoutWhateverTheWaitHint)
{
    ASSERT_TRUE(StartSlowService("serve stopdelay=8000 waithint=600000"));

    theService.Init(SLOW, SLOW);
    BoundedUninstall uninstall;
    uninstall.dwTimeoutMs = 1500;
    HANDLE hThread = CreateThread(nullptr, 0, BoundedUninstall::Proc, &uninstall, 0, nullptr);
    ASSERT_NE(nullptr, hThread);
    const DWORD dwWait = WaitForSingleObject(hThread, 1500 + 5000);
    if (dwWait != WAIT_OBJECT_0) TerminateThread(hThread, 1);
    CloseHandle(hThread);
    ASSERT_EQ(WAIT_OBJECT_0, dwWait) << "Uninstall slept on the wait hint past its timeout";
    EXPECT_EQ(0, uninstall.result);
    EXPECT_TRUE(ServiceExists(SLOW));
}

// A stop that completes within the timeout is waited for, then deleted.
TEST_F(ServiceInstallTest, UninstallWaitsForASlowStopWithinTheTimeout)
{
    ASSERT_TRUE(StartSlowService("serve stopdelay=1500 waithint=200"));

    const UninstallRun run = UninstallHere(SLOW, 10000, TRUE);
    EXPECT_EQ(1, run.result);
    EXPECT_EQ((std::vector<Box>{{"Service uninstalled", SLOW, BoxIcon::Information}}), run.boxes);
    EXPECT_EQ(0u, ServiceState(SLOW));
}

// The build's package (x86 or x64) under the prefix's Windows Installer
// (msiexec /qn), installed into the prefix's Program Files: what it
// registers, a simulated device reaching the log, an upgrade, a refused
// downgrade and side-by-side rebuild, a refused install over an -Install
// service, and removal, which keeps the run state only for an upgrade; and
// the order of the installer's actions, read from the package itself. The
// packages are built from the tested Plugtrail.exe (tests/CMakeLists.txt).
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "eventlog/run_state.h"
#include "service/scm_helpers.h"
#include "support/processes.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"
#include "util/scoped_handle.h"
#include "plugtrail_product.h"

namespace {

constexpr char kDeviceLog[] = "C:\\_UsbDevices.log";
constexpr char kInstalledExe[] = "C:\\Program Files\\Plugtrail\\Plugtrail.exe";
// The product's identity as the program has it: the package must agree.
constexpr char kService[] = PLUGTRAIL_SERVICE_NAME;
constexpr char kEventSourceKey[] = PLUGTRAIL_EVENT_SOURCE_KEY;
constexpr char kUpgradeCode[] = "{" PLUGTRAIL_UPGRADE_CODE "}";
// Any product code: the package only asks whether the property is set.
constexpr char kUpgradingProduct[] = "{0B7A1C52-6D3E-4F8A-9C21-5E4D3B2A1F60}";
constexpr char kStickId[] = "USB\\VID_0781&PID_5567\\4C53PKG1";
constexpr DWORD kRunMs = 120000;
constexpr DWORD kInstallFailure = 1603;

std::string PackagePath(const char* pszName)
{
    return ExeDirectory() + "..\\packages\\" + pszName + ".msi";
}

DWORD RunTool(const std::string& exe, const std::string& args)
{
    ChildProcess child(exe, args);
    return child.Started() ? child.Wait(kRunMs) : 0xFFFFFFFF;
}

DWORD Msiexec(const char* pszAction, const char* pszPackage, const std::string& properties = "")
{
    char szSystem[MAX_PATH];
    GetSystemDirectoryA(szSystem, MAX_PATH);
    return RunTool(std::string(szSystem) + "\\msiexec.exe",
                   std::string(pszAction) + " \"" + PackagePath(pszPackage) + "\" /qn " + properties);
}

// The service's registration in one line, or an empty text when it is not
// registered: type, start, error control, account, display name, path,
// description.
std::string Registration()
{
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceA(scm.get(), kService, SERVICE_QUERY_CONFIG));
    std::vector<BYTE> config(8192), description(1024);
    DWORD cb = 0;
    if (!service || !QueryServiceConfigA(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGA*>(config.data()),
                                         static_cast<DWORD>(config.size()), &cb) ||
        !QueryServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, description.data(),
                              static_cast<DWORD>(description.size()), &cb))
        return "";
    const auto* c = reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(config.data());
    const auto* d = reinterpret_cast<const SERVICE_DESCRIPTIONA*>(description.data());
    char szLine[1024];
    wsprintfA(szLine, "0x%lx %lu %lu %s %s %s %s", c->dwServiceType, c->dwStartType, c->dwErrorControl,
              c->lpServiceStartName, c->lpDisplayName, c->lpBinaryPathName, d->lpDescription);
    return szLine;
}

// Product versions of every installed package of Plugtrail.
std::vector<std::string> InstalledVersions()
{
    std::vector<std::string> versions;
    char szProduct[39];
    for (DWORD i = 0; MsiEnumRelatedProductsA(kUpgradeCode, 0, i, szProduct) == ERROR_SUCCESS; ++i) {
        char szVersion[64] = "";
        DWORD cch = sizeof(szVersion);
        MsiGetProductInfoA(szProduct, INSTALLPROPERTY_VERSIONSTRING, szVersion, &cch);
        versions.push_back(szVersion);
    }
    return versions;
}

// An action's place in the package's InstallExecuteSequence; -1 when the
// package does not run it.
int ExecuteSequence(MSIHANDLE hDatabase, const std::string& action)
{
    const std::string query = "SELECT `Sequence` FROM `InstallExecuteSequence` WHERE `Action` = '" + action + "'";
    PMSIHANDLE view, record;
    if (MsiDatabaseOpenViewA(hDatabase, query.c_str(), &view) != ERROR_SUCCESS ||
        MsiViewExecute(view, 0) != ERROR_SUCCESS || MsiViewFetch(view, &record) != ERROR_SUCCESS)
        return -1;
    return MsiRecordGetInteger(record, 1);
}

bool KeyExists(const char* pszKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override { DeleteIfPresent(kDeviceLog); }
    // The prefix is shared: whatever happened, no package, service or
    // device of this test stays.
    void TearDown() override
    {
        for (const char* pszName : {"higher", "current", "lower", "rebuild"}) Msiexec("/x", pszName);
        RemoveService(kService);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY);
        RemoveSimulatedDevice(kStickId);
        DeleteIfPresent(kDeviceLog);
    }
};

const std::string kRegistration = std::string("0x10 2 1 LocalSystem " PLUGTRAIL_DISPLAY_NAME " \"") + kInstalledExe +
                                  "\" " PLUGTRAIL_DESCRIPTION;

TEST_F(Package, InstallsTheServiceLogsUpgradesRefusesADowngradeAndRemovesAllButTheLog)
{
    ASSERT_EQ(Msiexec("/i", "current"), 0u);
    // The path is quoted by the package's custom action: Wine's installer writes it bare.
    EXPECT_EQ(Registration(), kRegistration);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 30000));
    EXPECT_TRUE(KeyExists(kEventSourceKey));
    ASSERT_EQ(RunTool("usb_side.exe", std::string("plug \"") + kStickId +
                                          "\" USBSTOR \"SanDisk Cruzer Blade\" \"USB Mass Storage Device\" \"\" \"\""),
              0u);
    EXPECT_NE(ReadWholeFile(kDeviceLog).find("USB storage device attached: 'SanDisk Cruzer Blade'"), std::string::npos);

    EXPECT_EQ(Msiexec("/i", "lower"), kInstallFailure);
    EXPECT_NE(Msiexec("/i", "rebuild"), 0u);
    EXPECT_EQ(InstalledVersions(), std::vector<std::string>{PACKAGE_VERSION});

    ASSERT_EQ(Msiexec("/i", "higher"), 0u);
    EXPECT_EQ(InstalledVersions(), std::vector<std::string>{HIGHER_PACKAGE_VERSION});
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 30000));
    EXPECT_EQ(Registration(), kRegistration);
    // Not only reported running: the new service took the stick over at its start.
    EXPECT_EQ(RunTool("usb_side.exe", std::string("unplug \"") + kStickId + "\""), 0u);
    EXPECT_NE(ReadWholeFile(kDeviceLog).find("USB storage device removed: 'SanDisk Cruzer Blade'"), std::string::npos);
    EXPECT_TRUE(KeyExists(RUN_STATE_KEY));

    ASSERT_EQ(Msiexec("/x", "higher"), 0u);
    EXPECT_FALSE(ServiceExists(kService));
    EXPECT_FALSE(FileExists(kInstalledExe));
    EXPECT_FALSE(KeyExists(kEventSourceKey));
    EXPECT_FALSE(KeyExists(RUN_STATE_KEY));
    EXPECT_TRUE(InstalledVersions().empty());
    EXPECT_NE(ReadWholeFile(kDeviceLog).find("attached"), std::string::npos);
}

// The old version's removal in an upgrade, with UPGRADINGPRODUCTCODE as
// Windows sets it; Wine's upgrade does not (docs/TESTING.md).
TEST_F(Package, KeepsTheRunStateWhenAnUpgradeRemovesTheOldVersion)
{
    ASSERT_EQ(Msiexec("/i", "current"), 0u);
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING, 30000));
    ASSERT_TRUE(KeyExists(RUN_STATE_KEY));

    ASSERT_EQ(Msiexec("/x", "current", std::string("UPGRADINGPRODUCTCODE=") + kUpgradingProduct), 0u);
    EXPECT_FALSE(ServiceExists(kService));
    EXPECT_TRUE(KeyExists(RUN_STATE_KEY));
}

TEST_F(Package, RefusesAServiceThatTheInstallOptionRegistered)
{
    ASSERT_EQ(RunTool("..\\Plugtrail.exe", "-silentinstall"), 1u);
    const std::string before = Registration();

    EXPECT_EQ(Msiexec("/i", "current"), kInstallFailure);
    EXPECT_EQ(Registration(), before);
    EXPECT_TRUE(InstalledVersions().empty());
    EXPECT_FALSE(FileExists(kInstalledExe));
}

// Wine's installer removes the old version in a process of its own wherever
// the action stands, so only the package shows that an upgrade removes it
// inside its own transaction, which Windows rolls back when the new version
// fails, that the service is configured between its registration and its
// start, and that the run state goes once the service is gone, inside the
// script, where alone a deferred action runs.
TEST(PackageSequence, RemovesTheOldVersionInsideTheTransactionConfiguresTheServiceAndDeletesTheRunStateAfterIt)
{
    PMSIHANDLE database;
    ASSERT_EQ(MsiOpenDatabaseA(PackagePath("current").c_str(), MSIDBOPEN_READONLY, &database), 0u);
    const int removeOld = ExecuteSequence(database, "RemoveExistingProducts");
    EXPECT_LT(ExecuteSequence(database, "InstallInitialize"), removeOld);
    EXPECT_LT(removeOld, ExecuteSequence(database, "RemoveFiles"));
    const int configure = ExecuteSequence(database, "ConfigureService");
    EXPECT_LT(ExecuteSequence(database, "InstallServices"), configure);
    EXPECT_LT(configure, ExecuteSequence(database, "StartServices"));
    const int removeRunState = ExecuteSequence(database, "RemoveRunStateKey");
    EXPECT_LT(ExecuteSequence(database, "DeleteServices"), removeRunState);
    EXPECT_LT(removeRunState, ExecuteSequence(database, "InstallFinalize"));
}

}  // namespace

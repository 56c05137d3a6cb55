// Installing, querying and removing the program's own service entry. Each
// operation opens its SCM handles and closes them before it returns.
#include "service/service.h"

#include "eventlog/event_source.h"
#include "eventlog/run_state.h"
#include "log/trace.h"
#include "plugtrail_product.h"
#include "service/service_config.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

// Not interactive: a window on the user's desktop could be closed, or sent
// forged device events, by any program the user runs.
constexpr DWORD SERVICE_TYPE = SERVICE_WIN32_OWN_PROCESS;
constexpr size_t LEVEL_TEXT_SIZE = 16;
// A stopping service is asked again after a tenth of its wait hint, as
// Microsoft advises, but at least this often: the hint covers its longest
// stop, and most stops take a moment.
constexpr DWORD STOP_POLL_MIN_MS = 100;
constexpr DWORD STOP_POLL_MAX_MS = 1000;

// A setting the system does not know (XP answers ERROR_INVALID_LEVEL) leaves
// the service as it is; the install goes on.
void TraceRefusedSetting(void* /*pContext*/, DWORD dwLevel, DWORD dwError)
{
    char szLevel[LEVEL_TEXT_SIZE];
    FormatText(szLevel, "level %lu", dwLevel);
    TraceFailure("ChangeServiceConfig2W", szLevel, dwError);
}

// Polls the service while it stays in dwPending, paced by its wait hint but
// never past dwTimeoutMs; status holds what it was last seen in. False when
// its state cannot be read.
bool WaitWhilePending(SC_HANDLE hService, DWORD dwPending, DWORD dwTimeoutMs, SERVICE_STATUS& status)
{
    const DWORD dwStart = GetTickCount();
    while (status.dwCurrentState == dwPending) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwElapsed > dwTimeoutMs) return true;
        DWORD dwPoll = status.dwWaitHint / 10;
        if (dwPoll < STOP_POLL_MIN_MS) dwPoll = STOP_POLL_MIN_MS;
        if (dwPoll > STOP_POLL_MAX_MS) dwPoll = STOP_POLL_MAX_MS;
        const DWORD dwRemaining = dwTimeoutMs - dwElapsed;
        Sleep(dwPoll < dwRemaining ? dwPoll : dwRemaining);
        if (!QueryServiceStatus(hService, &status)) return false;
    }
    return true;
}

}  // namespace

BOOL CService::IsInstalled()
{
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) return 0;
    ScopedServiceHandle service(OpenServiceA(scm.get(), szServiceName, SERVICE_QUERY_CONFIG));
    return service ? 1 : 0;
}

DWORD CService::QueryState()
{
    if (!IsInstalled()) return 0;
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!scm) {
        MessageBoxA(nullptr, "Couldn't open service manager", szServiceName, MB_OK);
        return 0;
    }
    ScopedServiceHandle service(OpenServiceA(scm.get(), szServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        scm.reset();
        MessageBoxA(nullptr, "Couldn't open service", szServiceName, MB_OK);
        return 0;
    }
    SERVICE_STATUS serviceStatus = {};
    if (!QueryServiceStatus(service.get(), &serviceStatus)) return 0;
    return serviceStatus.dwCurrentState;
}

BOOL CService::Install(BOOL bShowMessages)
{
    auto say = [&](const char* pszText, UINT uIcon) {
        if (bShowMessages) MessageBoxA(nullptr, pszText, szServiceName, uIcon);
    };

    if (IsInstalled()) {
        say("Service is already installed", MB_ICONINFORMATION);
        return 1;
    }
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        say("Couldn't open service manager", MB_ICONINFORMATION);
        return 0;
    }

    char szModule[MAX_PATH];
    const DWORD cchModule = GetModuleFileNameA(nullptr, szModule, MAX_PATH);
    if (cchModule >= MAX_PATH) szModule[MAX_PATH - 1] = '\0';
    char szQuotedPath[QUOTED_PATH_SIZE];
    FormatQuotedPath(szQuotedPath, szModule);

    ScopedServiceHandle service(CreateServiceA(scm.get(), szServiceName, szDisplayName, SERVICE_ALL_ACCESS,
                                               SERVICE_TYPE, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                               szQuotedPath, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        scm.reset();
        say("Couldn't create service", MB_ICONINFORMATION);
        return 0;
    }
    RegisterEventLogSource(szModule);

    SERVICE_DESCRIPTIONA description = {const_cast<char*>(PLUGTRAIL_DESCRIPTION)};
    ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
    // Restarts after a crash, and (where the system can tell) after a stop
    // with a failure code too; then the least privilege the service runs with.
    ApplyRecoveryAndPrivileges(service.get(), TraceRefusedSetting, nullptr);

    BOOL bResult;
    if (StartServiceA(service.get(), 0, nullptr)) {
        say("Service installed and started", MB_ICONINFORMATION);
        bResult = 1;
    } else {
        say("Service installed but failed to start", MB_ICONWARNING);
        bResult = 0;
    }
    return bResult;
}

BOOL CService::Uninstall(DWORD dwTimeoutMs, BOOL bShowMessages)
{
    auto say = [&](const char* pszText, const char* pszCaption, UINT uIcon) {
        if (bShowMessages) MessageBoxA(nullptr, pszText, pszCaption, uIcon);
    };

    if (!IsInstalled()) {
        say("Service is not installed", szServiceName, MB_ICONINFORMATION);
        return 1;
    }
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) {
        say("Couldn't open service manager", szServiceName, MB_ICONWARNING);
        return 0;
    }
    ScopedServiceHandle service(OpenServiceA(scm.get(), szServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        scm.reset();
        say("Couldn't open service", szServiceName, MB_ICONWARNING);
        return 0;
    }

    // A service is deleted only once it has stopped: one marked for deletion
    // while it runs would go on running with its run state deleted under it.
    // A starting one takes no stop until it runs, so it is waited for first.
    SERVICE_STATUS serviceStatus = {};
    if (!QueryServiceStatus(service.get(), &serviceStatus) ||
        !WaitWhilePending(service.get(), SERVICE_START_PENDING, dwTimeoutMs, serviceStatus))
        return 0;
    if (serviceStatus.dwCurrentState != SERVICE_STOPPED && serviceStatus.dwCurrentState != SERVICE_STOP_PENDING &&
        !ControlService(service.get(), SERVICE_CONTROL_STOP, &serviceStatus)) {
        const DWORD dwError = GetLastError();
        TraceFailure("ControlService", szServiceName, dwError);
        // It may have stopped, or begun to, on its own meanwhile.
        if (!QueryServiceStatus(service.get(), &serviceStatus)) return 0;
    }
    if (!WaitWhilePending(service.get(), SERVICE_STOP_PENDING, dwTimeoutMs, serviceStatus)) return 0;
    if (serviceStatus.dwCurrentState != SERVICE_STOPPED) {
        say("Service could not be stopped", nullptr, MB_ICONWARNING);
        return 0;
    }

    const BOOL bDeleted = DeleteService(service.get());
    service.reset();
    scm.reset();
    if (bDeleted) {
        RemoveEventLogSource();
        const LONG lError = RemoveRunState();
        if (lError != ERROR_SUCCESS) TraceFailure("RegDeleteKeyA", RUN_STATE_KEY, static_cast<DWORD>(lError));
        say("Service uninstalled", szServiceName, MB_ICONINFORMATION);
        return 1;
    }
    say("Service could not be deleted", szServiceName, MB_ICONWARNING);
    return 0;
}

#include "service/scm_helpers.h"

#include "support/processes.h"
#include "util/scoped_handle.h"

std::string QuotedToolPath()
{
    return "\"" + ExeDirectory() + "test_service.exe\"";
}

bool CreateToolService(const char* pszName, const std::string& args)
{
    RemoveService(pszName);
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!scm) return false;
    const std::string path = QuotedToolPath() + (args.empty() ? "" : " " + args);
    ScopedServiceHandle service(CreateServiceA(scm.get(), pszName, pszName, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                               path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    return static_cast<bool>(service);
}

DWORD ServiceState(const char* pszName, DWORD* pProcessId)
{
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!scm) return 0;
    ScopedServiceHandle service(OpenServiceA(scm.get(), pszName, SERVICE_QUERY_STATUS));
    if (!service) return 0;
    SERVICE_STATUS_PROCESS ssp = {};
    DWORD cb = 0;
    if (!QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&ssp), sizeof ssp, &cb))
        return 0;
    if (pProcessId != nullptr) *pProcessId = ssp.dwProcessId;
    return ssp.dwCurrentState;
}

bool WaitForServiceState(const char* pszName, DWORD dwState, DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    while (ServiceState(pszName) != dwState) {
        if (GetTickCount() - dwStart > dwMs) return false;
        Sleep(50);
    }
    return true;
}

bool ServiceExists(const char* pszName)
{
    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!scm) return false;
    ScopedServiceHandle service(OpenServiceA(scm.get(), pszName, SERVICE_QUERY_CONFIG));
    return static_cast<bool>(service);
}

void RemoveService(const char* pszName)
{
    {
        ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!scm) return;
        ScopedServiceHandle service(OpenServiceA(scm.get(), pszName, SERVICE_ALL_ACCESS));
        if (!service) return;
        SERVICE_STATUS status = {};
        ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        if (!WaitForServiceState(pszName, SERVICE_STOPPED, 15000)) {
            DWORD pid = 0;
            ServiceState(pszName, &pid);
            HANDLE hProcess = pid ? OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid) : nullptr;
            if (hProcess != nullptr) {
                TerminateProcess(hProcess, 1);
                WaitForSingleObject(hProcess, 5000);
                CloseHandle(hProcess);
            }
            WaitForServiceState(pszName, SERVICE_STOPPED, 5000);
        }
        DeleteService(service.get());
    }
    // The entry goes once the last handle to it is closed.
    for (int i = 0; i < 100 && ServiceExists(pszName); ++i) Sleep(50);
}

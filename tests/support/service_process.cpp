#include "support/service_process.h"

#include <psapi.h>
#include <winternl.h>

#include <vector>

DWORD ServiceProcessId(const char* pszServiceName)
{
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (hScm == nullptr) return 0;
    DWORD dwPid = 0;
    SC_HANDLE hService = OpenServiceA(hScm, pszServiceName, SERVICE_QUERY_STATUS);
    if (hService != nullptr) {
        SERVICE_STATUS_PROCESS status = {};
        DWORD cbNeeded = 0;
        if (QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                                 &cbNeeded) &&
            status.dwCurrentState == SERVICE_RUNNING)
            dwPid = status.dwProcessId;
        CloseServiceHandle(hService);
    }
    CloseServiceHandle(hScm);
    return dwPid;
}

WatchedProcess::WatchedProcess(DWORD dwPid)
    : m_pid(dwPid),
      m_h(dwPid == 0 ? nullptr
                     : OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, dwPid))
{
}

WatchedProcess::~WatchedProcess()
{
    if (m_h != nullptr) CloseHandle(m_h);
}

bool WatchedProcess::Alive() const
{
    return m_h != nullptr && WaitForSingleObject(m_h, 0) == WAIT_TIMEOUT;
}

namespace {

// The handle count the system's process list gives for dwPid, or 0.
DWORD HandleCountFromProcessList(DWORD dwPid)
{
    std::vector<BYTE> buffer(256 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG cbNeeded = 0;
        const NTSTATUS status = NtQuerySystemInformation(SystemProcessInformation, buffer.data(),
                                                         static_cast<ULONG>(buffer.size()), &cbNeeded);
        if (status == 0) break;
        if (attempt == 3) return 0;
        buffer.resize(buffer.size() * 2 > cbNeeded ? buffer.size() * 2 : cbNeeded + 4096);
    }
    for (size_t offset = 0;;) {
        const auto* info = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
        if (static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info->UniqueProcessId)) == dwPid) return info->HandleCount;
        if (info->NextEntryOffset == 0) return 0;
        offset += info->NextEntryOffset;
    }
}

}  // namespace

bool WatchedProcess::Read(ProcessUsage& usage) const
{
    if (m_h == nullptr) return false;
    if (!GetProcessHandleCount(m_h, &usage.handles)) return false;
    // Wine answers GetProcessHandleCount with 0 for every process; its
    // process list carries the server's real count.
    if (usage.handles == 0) usage.handles = HandleCountFromProcessList(m_pid);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(m_h, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        return false;
    // Wine leaves PrivateUsage at 0; its PagefileUsage follows the process's
    // private memory, which is what PagefileUsage also counts on Windows.
    usage.privateBytes = counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
    FILETIME ftCreation, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(m_h, &ftCreation, &ftExit, &ftKernel, &ftUser)) return false;
    auto value = [](const FILETIME& ft) { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    usage.cpu100ns = value(ftKernel) + value(ftUser);
    return true;
}

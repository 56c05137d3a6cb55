#include "support/processes.h"

#include <cstdio>
#include <vector>

std::string ExeDirectory()
{
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

ChildProcess::ChildProcess(const std::string& exeName, const std::string& args)
{
    const bool bAbsolute = exeName.size() > 1 && exeName[1] == ':';
    const std::string exe = bAbsolute ? exeName : ExeDirectory() + exeName;
    std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
    std::vector<char> cmdLine(cmd.begin(), cmd.end());
    cmdLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    // Under Wine a start failed once in CI (x64, a fresh prefix): the new
    // process ended before its start-up was done, so CreateProcessA failed.
    // Try once more and say so, with the error; failing twice fails the test.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (CreateProcessA(exe.c_str(), cmdLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &m_pi)) {
            m_dwError = ERROR_SUCCESS;
            return;
        }
        m_dwError = GetLastError();
        m_pi = PROCESS_INFORMATION{};
        fprintf(stderr, "CreateProcessA(%s) failed, error %lu%s\n", cmd.c_str(), m_dwError,
                attempt == 0 ? "; trying once more" : "");
        if (attempt == 0) Sleep(500);
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pi.hProcess == nullptr) return;
    if (WaitForSingleObject(m_pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(m_pi.hProcess, 99);
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
}

DWORD ChildProcess::Wait(DWORD dwMs)
{
    WaitForSingleObject(m_pi.hProcess, dwMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
}

FileHolder::FileHolder(const char* pszPath, DWORD dwMs) : m_child(nullptr), m_bHeld(false)
{
    const std::string eventName = "plugtrail_test_hold_" + std::to_string(GetCurrentProcessId());
    m_hReady = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    m_child = new ChildProcess("hold_file.exe",
                               "\"" + std::string(pszPath) + "\" " + std::to_string(dwMs) + " " + eventName);
    if (m_child->Started()) {
        HANDLE handles[] = {m_hReady, m_child->Handle()};
        m_bHeld = WaitForMultipleObjects(2, handles, FALSE, 20000) == WAIT_OBJECT_0;
    }
}

FileHolder::~FileHolder()
{
    delete m_child;
    CloseHandle(m_hReady);
}

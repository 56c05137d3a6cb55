// Starting the test tools and programs that sit beside the test executable.
#pragma once

#include <windows.h>

#include <string>

// Directory of the running test executable, with a trailing backslash.
std::string ExeDirectory();

// A started child process; waits for it (bounded) when it goes out of scope.
// exeName is taken beside the test executable unless it is a full path.
class ChildProcess {
public:
    ChildProcess(const std::string& exeName, const std::string& args);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pi.hProcess != nullptr; }
    // CreateProcessA's error when the process could not be started.
    DWORD Error() const { return m_dwError; }
    // Exit code, or STILL_ACTIVE (259) when it has not ended within the time.
    DWORD Wait(DWORD dwMs);
    HANDLE Handle() const { return m_pi.hProcess; }

private:
    PROCESS_INFORMATION m_pi{};
    DWORD m_dwError = ERROR_SUCCESS;
};

// Holds pszPath open without sharing for dwMs in another process; returns
// once the file is held.
class FileHolder {
public:
    FileHolder(const char* pszPath, DWORD dwMs);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    bool Held() const { return m_bHeld; }

private:
    HANDLE m_hReady;
    ChildProcess* m_child;
    bool m_bHeld;
};

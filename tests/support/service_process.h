// The process behind an installed service, seen from outside: its id, and
// what it holds (handles, private memory, CPU time).
#pragma once

#include <windows.h>

#include <string>

// Process id of the running service, or 0 when it is not running.
DWORD ServiceProcessId(const char* pszServiceName);

struct ProcessUsage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
    ULONGLONG cpu100ns = 0;  // kernel plus user time
};

// A process opened for querying; closes its handle when it goes.
class WatchedProcess {
public:
    explicit WatchedProcess(DWORD dwPid);
    ~WatchedProcess();
    WatchedProcess(const WatchedProcess&) = delete;
    WatchedProcess& operator=(const WatchedProcess&) = delete;

    bool Opened() const { return m_h != nullptr; }
    bool Alive() const;
    // False when any of the three readings fails. Under Wine the handle
    // count comes from the system's process list and the private bytes from
    // PagefileUsage, where the usual fields read 0.
    bool Read(ProcessUsage& usage) const;

private:
    DWORD m_pid;
    HANDLE m_h;
};

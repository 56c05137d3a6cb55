// A lock for state that more than one thread uses: made at static
// initialisation, before any thread but the first runs, and kept for the
// life of the process.
#pragma once

#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&m_cs); }
    void Leave() { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds the lock for the scope it lives in.
class CLocked {
public:
    explicit CLocked(CCriticalSection& lock) : m_lock(lock) { m_lock.Enter(); }
    ~CLocked() { m_lock.Leave(); }
    CLocked(const CLocked&) = delete;
    CLocked& operator=(const CLocked&) = delete;

private:
    CCriticalSection& m_lock;
};

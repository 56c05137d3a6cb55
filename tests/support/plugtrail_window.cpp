#include "support/plugtrail_window.h"

#include <cstdint>

namespace {

// Wine's user handles: an even index from 0x20 in the low word and the
// generation of that slot in the high word. Generation 0 stands for "any
// generation", so one pass over the indices finds the slot, and a second over
// the generations of that slot gives the full handle.
constexpr unsigned kFirstHandleIndex = 0x20;
constexpr unsigned kLastHandleIndex = 0xFFFE;
constexpr unsigned kLastGeneration = 0xFFFE;

HWND MakeHandle(unsigned index, unsigned generation)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>((generation << 16) | index));
}

HWND FullHandle(unsigned index)
{
    for (unsigned generation = 1; generation <= kLastGeneration; ++generation) {
        const HWND hwnd = MakeHandle(index, generation);
        if (IsWindow(hwnd)) return hwnd;
    }
    return MakeHandle(index, 0);
}

HWND ProbeHandles()
{
    for (unsigned index = kFirstHandleIndex; index <= kLastHandleIndex; index += 2) {
        if (IsPlugtrailWindow(MakeHandle(index, 0))) return FullHandle(index);
    }
    return nullptr;
}

}  // namespace

bool IsPlugtrailWindow(HWND hwnd)
{
    if (!IsWindow(hwnd)) return false;
    char szClass[64];
    if (GetClassNameA(hwnd, szClass, sizeof szClass) == 0 || lstrcmpA(szClass, kPlugtrailWindowClass) != 0)
        return false;
    char szTitle[64];
    return GetWindowTextA(hwnd, szTitle, sizeof szTitle) > 0 && lstrcmpA(szTitle, kPlugtrailWindowTitle) == 0;
}

HWND FindPlugtrailWindow()
{
    if (HWND hwnd = FindWindowA(kPlugtrailWindowClass, kPlugtrailWindowTitle)) return hwnd;
    return ProbeHandles();
}

namespace {

// A window takes device events once its run monitors: a debug run shows it
// then, and a service reports RUNNING then.
bool IsMonitoring(HWND hwnd)
{
    if (IsWindowVisible(hwnd)) return true;
    SERVICE_STATUS status = {};
    SC_HANDLE hScm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE hService = hScm != nullptr ? OpenServiceA(hScm, "Plugtrail", SERVICE_QUERY_STATUS) : nullptr;
    const bool bRunning = hService != nullptr && QueryServiceStatus(hService, &status) &&
                          status.dwCurrentState == SERVICE_RUNNING;
    if (hService != nullptr) CloseServiceHandle(hService);
    if (hScm != nullptr) CloseServiceHandle(hScm);
    return bRunning;
}

}  // namespace

HWND WaitForPlugtrailWindow(DWORD dwMs)
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const HWND hwnd = FindPlugtrailWindow();
        if (hwnd != nullptr && IsMonitoring(hwnd)) return hwnd;
        if (GetTickCount() - dwStart >= dwMs) return nullptr;
        Sleep(100);
    }
}

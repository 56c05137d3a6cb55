// The least a window can do for a device event, as a yardstick for
// Plugtrail's own window:
//
//   bench_floor append LOG   appends one fixed line to LOG per WM_DEVICECHANGE
//   bench_floor lookup LOG   on an interface arrival first makes the calls a
//                            device lookup needs (list the present interfaces,
//                            enumerate, detail size and detail, the property
//                            reads, destroy the list), then appends the line
//
// Both open, append and close LOG for every line. The lookup window keeps the
// time spent in each kind of call; the driver reads it with kMsgCallTime
// (wParam = kind, result = microseconds) and clears it with kMsgReset.
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "bare_lookup.h"
#include "floor_protocol.h"

namespace {

bool bLookup = false;
const char* pszLog = nullptr;
LARGE_INTEGER liFrequency;
LONGLONG llCallTicks[kCallKinds];

const char kLine[] = "01.01.2026 - 00:00:00  USB storage device attached: 'Stick' / 'Disk' / 'Maker'\r\n";

struct Timed {
    CallKind kind;
    LARGE_INTEGER start;
    explicit Timed(CallKind k) : kind(k) { QueryPerformanceCounter(&start); }
    ~Timed()
    {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        llCallTicks[kind] += end.QuadPart - start.QuadPart;
    }
};

LRESULT CALLBACK FloorWndProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_DEVICECHANGE:
        if (bLookup && wParam == DBT_DEVICEARRIVAL && lParam != 0) {
            auto* pHdr = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
            if (pHdr->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
                pHdr->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)) {
                auto* pIface = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(pHdr);
                BareLookup<Timed>(&pIface->dbcc_classguid, pIface->dbcc_name);
            }
        }
        AppendFixedLine<Timed>(pszLog, kLine);
        return TRUE;
    case kMsgCallTime:
        if (wParam >= kCallKinds) return 0;
        return static_cast<LRESULT>(llCallTicks[wParam] * 1000000 / liFrequency.QuadPart);
    case kMsgReset:
        std::memset(llCallTicks, 0, sizeof llCallTicks);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, uMsg, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    if (__argc != 3) return 2;
    bLookup = lstrcmpA(__argv[1], "lookup") == 0;
    pszLog = __argv[2];
    QueryPerformanceFrequency(&liFrequency);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = FloorWndProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kFloorWindowClass;
    if (!RegisterClassA(&wc)) return 3;
    const HWND hwnd = CreateWindowExA(0, kFloorWindowClass, bLookup ? kLookupFloorTitle : kAppendFloorTitle, 0, 0, 0,
                                      0, 0, nullptr, nullptr, hInstance, nullptr);
    if (hwnd == nullptr) return 4;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

#include "device/volume_thread.h"

#include "log/trace.h"
#include "util/critical_section.h"
#include "util/text.h"

namespace {

// The queue and the thread's state are used under this lock, the thread's
// handle on the window's thread alone.
CCriticalSection volumeLock;
// Explicitly in .bss: with a section per datum the toolchain would otherwise
// store its zeros in the executable.
CVolumeQueue volumeQueue __attribute__((section(".bss")));
// The change the thread is handling, while it does.
VolumeRequest inHand __attribute__((section(".bss")));
bool bInHand = false;
bool bEnding = false;
// Volume reports are made, and closed, under this lock of their own, so that
// queuing a change never waits for a report.
CCriticalSection reportLock;
bool bReportsClosed = false;
HANDLE hWork = nullptr;  // auto-reset: set for every change posted, and for the end
HANDLE hThread = nullptr;

VolumeChangeHandler pfnHandleChange = nullptr;
VolumeRetry pfnRetryWaiting = nullptr;

// Takes the next change into hand; false when none waits.
bool TakeNext(VolumeRequest& request)
{
    CLocked locked(volumeLock);
    bInHand = volumeQueue.Pop(request);
    if (bInHand) inHand = request;
    return bInHand;
}

DWORD WINAPI VolumeThreadProc(LPVOID)
{
    bool bWaiting = false;
    for (;;) {
        WaitForSingleObject(hWork, bWaiting ? VOLUME_RETRY_MS : INFINITE);
        VolumeRequest request;
        while (TakeNext(request)) pfnHandleChange(request);
        {
            CLocked locked(volumeLock);
            bInHand = false;
            if (bEnding) return 0;
        }
        bWaiting = pfnRetryWaiting();
    }
}

}  // namespace

bool StartVolumeThread(VolumeChangeHandler pfnHandle, VolumeRetry pfnRetry)
{
    if (hThread != nullptr) return true;
    pfnHandleChange = pfnHandle;
    pfnRetryWaiting = pfnRetry;
    if (hWork == nullptr) hWork = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (hWork == nullptr) {
        const DWORD dwError = GetLastError();
        TraceFailure("CreateEventA", "volume thread", dwError);
        return false;
    }
    {
        CLocked locked(volumeLock);
        bEnding = false;
    }
    {
        CLocked locked(reportLock);
        bReportsClosed = false;
    }
    hThread = CreateThread(nullptr, 0, VolumeThreadProc, nullptr, 0, nullptr);
    if (hThread == nullptr) {
        const DWORD dwError = GetLastError();
        TraceFailure("CreateThread", "volume thread", dwError);
        return false;
    }
    return true;
}

bool PostVolumeChange(const VolumeRequest& request)
{
    {
        CLocked locked(volumeLock);
        if (hThread == nullptr || bEnding || !volumeQueue.Push(request)) return false;
    }
    SetEvent(hWork);
    return true;
}

size_t EndVolumeThread(DWORD dwWaitMs, char (&szLeft)[VOLUME_LEFT_TEXT_SIZE])
{
    szLeft[0] = '\0';
    if (hThread == nullptr) return 0;
    {
        CLocked locked(volumeLock);
        bEnding = true;
    }
    SetEvent(hWork);
    // A thread that a medium holds is given up: the process ends without it.
    const bool bEnded = WaitForSingleObject(hThread, dwWaitMs) == WAIT_OBJECT_0;
    {
        CLocked locked(reportLock);
        bReportsClosed = true;
    }
    if (bEnded) {
        CloseHandle(hThread);
        hThread = nullptr;
        return 0;
    }
    CLocked locked(volumeLock);
    size_t cLeft = 0;
    char szChange[VOLUME_CHANGE_TEXT_SIZE];
    if (bInHand) {
        DescribeVolumeChange(szChange, inHand);
        AppendText(szLeft, szChange);
        cLeft = 1;
    }
    for (size_t i = 0; i < volumeQueue.Count(); ++i, ++cLeft) {
        DescribeVolumeChange(szChange, volumeQueue.At(i));
        if (cLeft != 0) AppendText(szLeft, "; ");
        AppendText(szLeft, szChange);
    }
    return cLeft;
}

CVolumeReportScope::CVolumeReportScope()
{
    reportLock.Enter();
    m_bOpen = !bReportsClosed;
}

CVolumeReportScope::~CVolumeReportScope()
{
    reportLock.Leave();
}

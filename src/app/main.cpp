// Program entry: installs or removes the service, or runs as the service or
// (with -debug) as an ordinary program.
#include <windows.h>

#include "app/app.h"
#include "app/command_line.h"
#include "device/device_change.h"
#include "device/device_store.h"
#include "device/notification_window.h"
#include "eventlog/run.h"
#include "log/device_log.h"
#include "log/log_file_security.h"
#include "log/trace.h"
#include "plugtrail_product.h"
#include "service/service.h"
#include "util/text.h"

namespace {

constexpr DWORD UNINSTALL_TIMEOUT_MS = 10000;
constexpr DWORD WINDOW_FIRST_WAIT_MS = 500;
constexpr DWORD WINDOW_WAIT_MS = 1000;
constexpr int WINDOW_WAITS = 20;
// Device log lines still waiting for a held file when the window closes.
constexpr DWORD DEBUG_DRAIN_MS = 5000;

// Cuts to a field's width keep the characters of the system's ANSI code
// page whole: its double-byte characters, or UTF-8's where that is the page.
void InitLeadBytes()
{
    CPINFO cpInfo;
    if (GetCPInfo(CP_ACP, &cpInfo)) SetLeadByteRanges(cpInfo.LeadByte, sizeof cpInfo.LeadByte);
    SetUtf8CodePage(GetACP() == CP_UTF8);
}

// Runs the options of the command line in order. Returns true with the exit
// code in *pExitCode when an option has ended the process's work.
bool RunOptions(char* pszCmdLine, int* pExitCode)
{
    LowerAsciiInPlace(pszCmdLine);
    char* pszCursor = pszCmdLine;
    while (char* pszToken = NextToken(&pszCursor)) {
        switch (ParseOption(pszToken)) {
        case Option::Install:
            *pExitCode = theService.Install(TRUE) == 1 ? 1 : 0;
            return true;
        case Option::SilentInstall:
            *pExitCode = theService.Install(FALSE) == 1 ? 1 : 0;
            return true;
        case Option::Uninstall:
            *pExitCode = theService.Uninstall(UNINSTALL_TIMEOUT_MS, TRUE) == 1 ? 1 : 0;
            return true;
        case Option::SilentUninstall:
            *pExitCode = theService.Uninstall(UNINSTALL_TIMEOUT_MS, FALSE) == 1 ? 1 : 0;
            return true;
        case Option::Usage:
            ShowUsage();
            *pExitCode = 1;
            return true;
        case Option::Debug:
            bDebugMode = 1;
            break;
        case Option::None:
            break;
        }
    }
    return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPSTR lpCmdLine, int /*nCmdShow*/)
{
    theService.Init(PLUGTRAIL_SERVICE_NAME, PLUGTRAIL_DISPLAY_NAME);
    // Before any file is written, the trace file included.
    const DWORD dwSecurityError = InitLogFileSecurity();
    if (dwSecurityError != ERROR_SUCCESS)
        TraceFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", "log file", dwSecurityError);
    InitLeadBytes();  // before any text is cut to a field
    // A drive without a medium answers with an error, not a system dialog
    // that would hold the window's thread until someone clicks it.
    SetErrorMode(SEM_FAILCRITICALERRORS);

    const bool bHasCmdLine = lpCmdLine[0] != '\0';
    if (bHasCmdLine) {
        int exitCode = 0;
        if (RunOptions(lpCmdLine, &exitCode)) return exitCode;
    }

    if (bHasCmdLine && !bDebugMode) {
        ShowUsage();
        return 1;
    }
    if (!theService.IsInstalled() && !bDebugMode) {
        ShowUsage();
        return 1;
    }
    if (theService.IsInstalled() && theService.QueryState() == SERVICE_RUNNING && bDebugMode) {
        ShowMessage("Cannot run while another instance is running as service", MB_ICONERROR);
        return 1;
    }
    if (FindWindowA(MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE) != nullptr) {
        ShowMessage("Cannot run while another instance is running", MB_ICONERROR);
        return 1;
    }

    // A debug run begins here, before its window; a service's once the
    // dispatcher has connected. Either holds the machine's one run, so the
    // two exclude each other in every state of the service but STOPPED.
    if (bDebugMode) {
        const RunStart start = BeginRun();
        if (!start.bBegun) {
            const bool bServiceRun = theService.IsInstalled() && theService.QueryState() != SERVICE_STOPPED;
            ShowMessage(bServiceRun ? "Cannot run while another instance is running as service"
                                    : "Cannot run while another instance is running",
                        MB_ICONERROR);
            return 1;
        }
        if (start.logState != DeviceLogState::Writable) ShowDeviceLogProblem(start.logState, start.dwLogError);
    }

    // The store exists before the window: the window thread handles device
    // events from the moment its loop runs, and none may find it missing.
    pDeviceStore = CreateDeviceStore();
    if (pDeviceStore == nullptr) {
        Trace(1, "DeviceStore not created - abort");
        if (bDebugMode) EndRun(RunEnd::StartFailed, DEBUG_DRAIN_MS, nullptr);
        return 1;
    }

    HANDLE hWindowThread = nullptr;
    if (bDebugMode) {
        CreateMainWindowProc(hInstance);
    } else {
        hWindowThread = CreateThread(nullptr, 0, CreateMainWindowProc, hInstance, 0, nullptr);
        Sleep(WINDOW_FIRST_WAIT_MS);
        for (int waits = 0; theService.hwnd == nullptr && waits < WINDOW_WAITS; ++waits) Sleep(WINDOW_WAIT_MS);
    }
    if (theService.hwnd == nullptr) {
        Trace(1, "MainWindow not created - abort");
        if (hWindowThread != nullptr) TerminateThread(hWindowThread, 0);
        if (bDebugMode) EndRun(RunEnd::StartFailed, DEBUG_DRAIN_MS, nullptr);
        return 1;
    }

    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));

    if (bDebugMode) {
        theService.bService = 0;
        theService.Run();
        EndRun(RunEnd::WindowClosed, DEBUG_DRAIN_MS, nullptr);
    } else {
        theService.bService = 1;
        theService.Start();
    }
    return theService.dwFailureExitCode == 0 ? 0 : 1;
}

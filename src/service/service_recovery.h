// How the service is to recover and which privileges it keeps: set alike by
// -Install and by the installer package's custom action.
#pragma once

#include <windows.h>

#include <cstddef>

// A restart after each failure, sooner after the first; the SCM applies the
// last action to every failure after the second. The count of failures
// starts again after a day.
constexpr size_t RECOVERY_ACTION_COUNT = 2;
inline constexpr DWORD kRecoveryRestartDelaysMs[RECOVERY_ACTION_COUNT] = {5000, 60000};
constexpr DWORD RECOVERY_RESET_SECONDS = 24 * 60 * 60;

// The SERVICE_CONFIG_FAILURE_ACTIONS record of that recovery, its actions
// kept in the caller's array.
inline SERVICE_FAILURE_ACTIONSA RecoveryFailureActions(SC_ACTION (&actions)[RECOVERY_ACTION_COUNT])
{
    for (size_t i = 0; i < RECOVERY_ACTION_COUNT; ++i) actions[i] = {SC_ACTION_RESTART, kRecoveryRestartDelaysMs[i]};
    SERVICE_FAILURE_ACTIONSA failureActions = {};
    failureActions.dwResetPeriod = RECOVERY_RESET_SECONDS;
    failureActions.cActions = RECOVERY_ACTION_COUNT;
    failureActions.lpsaActions = actions;
    return failureActions;
}

// The privileges the service keeps on Vista and later (where the list
// applies; XP ignores it), as a multi-string: each name ends with a zero,
// the list with one more. What the service calls and what each needs:
// - SetProcessWorkingSetSize with a 512 KiB minimum, above the default of 50
//   pages: SeIncreaseWorkingSetPrivilege.
// - SetThreadPriority(THREAD_PRIORITY_HIGHEST) within the normal priority
//   class, the device log (CreateFileA in the root of C:, owned by
//   Administrators, a group that SYSTEM's token may make an owner), SetupDi
//   reads, the window, device notifications, the event log, the console
//   session's user (WTSQuerySessionInformationA), the program's key under
//   HKLM\SOFTWARE (its DACL grants SYSTEM) and the SCM's status reports:
//   none.
// - SeChangeNotifyPrivilege (traversing folders) is never removed, so it
//   need not be listed.
inline constexpr char kServiceRequiredPrivileges[] = "SeIncreaseWorkingSetPrivilege\0";

// Vista's SERVICE_CONFIG_FAILURE_ACTIONS_FLAG record; the headers declare it
// only for Vista builds. With the flag set, a stop with a non-zero exit code
// counts as a failure too.
struct FailureActionsFlag {
    BOOL fFailureActionsOnNonCrashFailures;
};

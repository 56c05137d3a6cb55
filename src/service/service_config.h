// What the service's entry gets besides what CreateServiceA sets: its path
// in quotes, how it recovers, and which privileges it keeps. Applied alike by
// -Install and by the installer package's custom action.
#pragma once

#include <windows.h>

#include <cstddef>

// The module path in double quotes, so that a path with spaces cannot be
// taken for a shorter program path followed by arguments.
constexpr size_t QUOTED_PATH_SIZE = MAX_PATH + 2;
void FormatQuotedPath(char (&szQuoted)[QUOTED_PATH_SIZE], const char* pszPath);

// A restart after each failure, sooner after the first; the SCM applies the
// last action to every failure after the second. The count of failures
// starts again after a day.
constexpr size_t RECOVERY_ACTION_COUNT = 2;
inline constexpr DWORD kRecoveryRestartDelaysMs[RECOVERY_ACTION_COUNT] = {5000, 60000};
constexpr DWORD RECOVERY_RESET_SECONDS = 24 * 60 * 60;

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
inline constexpr wchar_t kServiceRequiredPrivileges[] = L"SeIncreaseWorkingSetPrivilege\0";

// Every setting reaches the SCM through this: the wide function, because the
// ANSI one converts only the levels it knows (Wine's knows neither of
// Vista's). Replaceable by tests, which record what it is given: Wine keeps
// no failure actions and refuses Vista's levels, so what Windows would be
// told cannot be read back there.
using ChangeConfigFunction = BOOL(WINAPI*)(SC_HANDLE hService, DWORD dwLevel, LPVOID pInfo);
extern ChangeConfigFunction pfnChangeServiceConfig2W;
// Told of each setting the system refuses, with the system's error.
using RefusedSettingNote = void (*)(void* pContext, DWORD dwLevel, DWORD dwError);

// Sets the recovery, then, from Vista on, that a stop with a non-zero exit
// code counts as a failure and the privileges the service keeps. Older
// Windows refuse those two levels, and not all in the same words
// (ERROR_INVALID_LEVEL, or ERROR_INVALID_PARAMETER where the client library
// checks the level itself), so every refusal only goes to pfnNote. False
// when the recovery itself was refused.
bool ApplyRecoveryAndPrivileges(SC_HANDLE hService, RefusedSettingNote pfnNote, void* pContext);

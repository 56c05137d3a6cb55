#include "service/service_config.h"

#include "util/text.h"

namespace {

// Vista's configuration records; the headers declare them only for Vista
// builds.
struct FailureActionsFlag {
    BOOL fFailureActionsOnNonCrashFailures;
};
struct RequiredPrivilegesInfo {
    LPWSTR pmszRequiredPrivileges;
};
constexpr DWORD CONFIG_FAILURE_ACTIONS_FLAG = 4;
constexpr DWORD CONFIG_REQUIRED_PRIVILEGES_INFO = 6;

bool Change(SC_HANDLE hService, DWORD dwLevel, void* pInfo, RefusedSettingNote pfnNote, void* pContext)
{
    if (pfnChangeServiceConfig2W(hService, dwLevel, pInfo)) return true;
    const DWORD dwError = GetLastError();
    if (pfnNote != nullptr) pfnNote(pContext, dwLevel, dwError);
    return false;
}

}  // namespace

ChangeConfigFunction pfnChangeServiceConfig2W = ChangeServiceConfig2W;

void FormatQuotedPath(char (&szQuoted)[QUOTED_PATH_SIZE], const char* pszPath)
{
    FormatText(szQuoted, "\"%s\"", pszPath);
}

bool ApplyRecoveryAndPrivileges(SC_HANDLE hService, RefusedSettingNote pfnNote, void* pContext)
{
    SC_ACTION actions[RECOVERY_ACTION_COUNT];
    for (size_t i = 0; i < RECOVERY_ACTION_COUNT; ++i) actions[i] = {SC_ACTION_RESTART, kRecoveryRestartDelaysMs[i]};
    SERVICE_FAILURE_ACTIONSW failureActions = {};
    failureActions.dwResetPeriod = RECOVERY_RESET_SECONDS;
    failureActions.cActions = RECOVERY_ACTION_COUNT;
    failureActions.lpsaActions = actions;
    const bool bRecovery = Change(hService, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions, pfnNote, pContext);

    FailureActionsFlag flag = {TRUE};
    Change(hService, CONFIG_FAILURE_ACTIONS_FLAG, &flag, pfnNote, pContext);
    RequiredPrivilegesInfo privileges = {const_cast<wchar_t*>(kServiceRequiredPrivileges)};
    Change(hService, CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges, pfnNote, pContext);
    return bRecovery;
}

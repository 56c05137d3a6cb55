// The package's deferred custom actions, run as LocalSystem.
//
// ConfigureService, right after the installer has registered the service,
// sets what the installer's own service tables cannot, the same way -Install
// sets it.
//  - The executable path in double quotes. How the installer writes the path
//    is not documented (Wine's writes it bare), and a bare path with spaces
//    could be taken for a shorter program path followed by arguments.
//  - Recovery: restart after 5 s at the first failure and after 60 s at every
//    later one; the failure count resets after a day.
//  - From Windows Vista on: a non-zero exit code counts as a failure, and the
//    service process keeps only the privilege it needs. Older Windows do not
//    know these two settings; their refusal, in whatever words, is noted in
//    the installer's log and does not fail the install.
// CustomActionData carries the installed executable's full path.
//
// RemoveRunStateKey, on removal after the service is deleted, deletes the key
// that each run of the program leaves for the next, as -Uninstall does, but
// not when an upgrade removes the old version: the new version's first run
// reads it. The installer's registry tables do not serve: a key they remove
// goes in an upgrade's removal too, and one they create gets inherited
// permissions, not the protected ones the program gives it.
#include <windows.h>

#include <msiquery.h>

#include "log/run_state.h"
#include "service/service_recovery.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

constexpr char SERVICE_NAME[] = "Plugtrail";
constexpr size_t QUOTED_PATH_SIZE = MAX_PATH + 2;
constexpr size_t PRIVILEGES_CHARS = sizeof kServiceRequiredPrivileges;
constexpr size_t NOTE_SIZE = 96;

// A line in the installer's log (msiexec /l*v) that fails nothing.
void Note(MSIHANDLE hInstall, const char* pszNote)
{
    const MSIHANDLE hRecord = MsiCreateRecord(0);
    if (hRecord == 0) return;
    MsiRecordSetStringA(hRecord, 0, pszNote);
    MsiProcessMessage(hInstall, INSTALLMESSAGE_INFO, hRecord);
    MsiCloseHandle(hRecord);
}

// The Vista structure, which the headers declare only for Vista targets.
struct RequiredPrivilegesInfoW {
    LPWSTR pmszRequiredPrivileges;
};

// A setting of Vista and later. Older Windows refuse the level, and not all
// in the same words (ERROR_INVALID_LEVEL, or ERROR_INVALID_PARAMETER where
// the client library checks the level itself), so a refusal is only noted in
// the installer's log, as -Install only traces it. The wide function, because
// the ANSI one converts only the levels it knows (Wine's knows neither).
void SetOptional(MSIHANDLE hInstall, SC_HANDLE hService, DWORD dwLevel, void* pInfo)
{
    if (ChangeServiceConfig2W(hService, dwLevel, pInfo)) return;
    const DWORD dwError = GetLastError();
    char szNote[NOTE_SIZE];
    FormatText(szNote, "Plugtrail: service setting %lu not set, error %lu", dwLevel, dwError);
    Note(hInstall, szNote);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ConfigureService(MSIHANDLE hInstall)
{
    char szPath[MAX_PATH];
    DWORD cchPath = MAX_PATH;
    if (MsiGetPropertyA(hInstall, "CustomActionData", szPath, &cchPath) != ERROR_SUCCESS || cchPath == 0)
        return ERROR_INSTALL_FAILURE;
    char szQuotedPath[QUOTED_PATH_SIZE];
    FormatText(szQuotedPath, "\"%s\"", szPath);

    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return ERROR_INSTALL_FAILURE;
    // Restart actions need the right to start the service.
    ScopedServiceHandle service(OpenServiceA(scm.get(), SERVICE_NAME, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) return ERROR_INSTALL_FAILURE;

    if (!ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, szQuotedPath,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return ERROR_INSTALL_FAILURE;

    SC_ACTION actions[RECOVERY_ACTION_COUNT];
    SERVICE_FAILURE_ACTIONSA failureActions = RecoveryFailureActions(actions);
    if (!ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions))
        return ERROR_INSTALL_FAILURE;

    FailureActionsFlag flag = {TRUE};
    // The names are ASCII: widened character by character, zeros included.
    wchar_t szPrivileges[PRIVILEGES_CHARS];
    for (size_t i = 0; i < PRIVILEGES_CHARS; ++i) szPrivileges[i] = static_cast<wchar_t>(kServiceRequiredPrivileges[i]);
    RequiredPrivilegesInfoW privileges = {szPrivileges};
    SetOptional(hInstall, service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag);
    SetOptional(hInstall, service.get(), SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &privileges);
    return ERROR_SUCCESS;
}

// A key left behind costs at most a stale count of lost lines in the first
// run of a later installation; a removal that stops half way costs the whole
// product. So a failure is only noted. A missing key (the service never ran,
// or -Uninstall removed it) is what removal wants anyway.
extern "C" __declspec(dllexport) UINT __stdcall RemoveRunStateKey(MSIHANDLE hInstall)
{
    const LONG lError = RegDeleteKeyA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY);
    if (lError != ERROR_SUCCESS && lError != ERROR_FILE_NOT_FOUND) {
        char szNote[NOTE_SIZE];
        FormatText(szNote, "Plugtrail: HKLM\\%s not removed, error %ld", RUN_STATE_KEY, lError);
        Note(hInstall, szNote);
    }
    return ERROR_SUCCESS;
}

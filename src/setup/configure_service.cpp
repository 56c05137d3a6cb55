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
// Both are made by the program's own routine, which -Install uses too.
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

#include "eventlog/run_state.h"
#include "plugtrail_product.h"
#include "service/service_config.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

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

// A setting the system refuses is noted in the installer's log, as -Install
// only traces it.
void NoteRefusedSetting(void* pContext, DWORD dwLevel, DWORD dwError)
{
    char szNote[NOTE_SIZE];
    FormatText(szNote, "Plugtrail: service setting %lu not set, error %lu", dwLevel, dwError);
    Note(*static_cast<MSIHANDLE*>(pContext), szNote);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ConfigureService(MSIHANDLE hInstall)
{
    char szPath[MAX_PATH];
    DWORD cchPath = MAX_PATH;
    if (MsiGetPropertyA(hInstall, "CustomActionData", szPath, &cchPath) != ERROR_SUCCESS || cchPath == 0)
        return ERROR_INSTALL_FAILURE;
    char szQuotedPath[QUOTED_PATH_SIZE];
    FormatQuotedPath(szQuotedPath, szPath);

    ScopedServiceHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) return ERROR_INSTALL_FAILURE;
    // Restart actions need the right to start the service.
    ScopedServiceHandle service(OpenServiceA(scm.get(), PLUGTRAIL_SERVICE_NAME, SERVICE_CHANGE_CONFIG | SERVICE_START));
    if (!service) return ERROR_INSTALL_FAILURE;

    if (!ChangeServiceConfigA(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, szQuotedPath,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return ERROR_INSTALL_FAILURE;

    // Without its recovery the service would not come back after a crash:
    // that fails the install. Vista's two settings are only noted.
    if (!ApplyRecoveryAndPrivileges(service.get(), NoteRefusedSetting, &hInstall)) return ERROR_INSTALL_FAILURE;
    return ERROR_SUCCESS;
}

// A key left behind costs at most a stale count of lost lines in the first
// run of a later installation; a removal that stops half way costs the whole
// product. So a failure is only noted. A missing key (the service never ran,
// or -Uninstall removed it) is what removal wants anyway.
extern "C" __declspec(dllexport) UINT __stdcall RemoveRunStateKey(MSIHANDLE hInstall)
{
    const LONG lError = RemoveRunState();
    if (lError != ERROR_SUCCESS) {
        char szNote[NOTE_SIZE];
        FormatText(szNote, "Plugtrail: HKLM\\%s not removed, error %ld", RUN_STATE_KEY, lError);
        Note(hInstall, szNote);
    }
    return ERROR_SUCCESS;
}

#include "log/log_security.h"

#include <sddl.h>

#include "log/trace.h"

namespace {

// Owned by Administrators, whoever creates it: an owner may always rewrite
// the permissions. Protected, so that the root folder's grants (Authenticated
// Users may modify new files there) do not reach the audit log. Readers are
// the Event Log Readers group, as a SID: XP has neither the group nor an SDDL
// alias for it, and the entry there grants nothing.
constexpr char LOG_FILE_SDDL[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-32-573)";
// A key under HKLM\SOFTWARE would inherit write access for Power Users on
// XP. What the key holds decides what the next run reports, so only the same
// two may write it; anyone may read it.
constexpr char RUN_STATE_SDDL[] = "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)";

// Built at start-up and kept for the life of the process: a line must not
// cost a heap allocation.
SECURITY_ATTRIBUTES saLogFile = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaLogFile = nullptr;
SECURITY_ATTRIBUTES saRunState = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaRunState = nullptr;

SECURITY_ATTRIBUTES* Build(const char* pszSddl, SECURITY_ATTRIBUTES& sa)
{
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(pszSddl, SDDL_REVISION_1, &pSd, nullptr)) {
        const DWORD dwError = GetLastError();
        Trace(1, "InitLogSecurity: default security for %s, Error=%lu", pszSddl, dwError);
        return nullptr;
    }
    sa.lpSecurityDescriptor = pSd;
    return &sa;
}

}  // namespace

void InitLogSecurity()
{
    if (psaLogFile == nullptr) psaLogFile = Build(LOG_FILE_SDDL, saLogFile);
    if (psaRunState == nullptr) psaRunState = Build(RUN_STATE_SDDL, saRunState);
}

SECURITY_ATTRIBUTES* LogFileSecurity()
{
    return psaLogFile;
}

SECURITY_ATTRIBUTES* RunStateSecurity()
{
    return psaRunState;
}

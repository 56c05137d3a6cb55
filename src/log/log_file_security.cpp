#include "log/log_file_security.h"

#include <sddl.h>

namespace {

// Owned by Administrators, whoever creates it: an owner may always rewrite
// the permissions. Protected, so that the root folder's grants (Authenticated
// Users may modify new files there) do not reach the audit log. Readers are
// the Event Log Readers group, as a SID: XP has neither the group nor an SDDL
// alias for it, and the entry there grants nothing.
constexpr char LOG_FILE_SDDL[] = "O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;S-1-5-32-573)";

// Built at start-up and kept for the life of the process: a line must not
// cost a heap allocation.
SECURITY_ATTRIBUTES saLogFile = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaLogFile = nullptr;

}  // namespace

DWORD InitLogFileSecurity()
{
    if (psaLogFile != nullptr) return ERROR_SUCCESS;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(LOG_FILE_SDDL, SDDL_REVISION_1, &pSd, nullptr))
        return GetLastError();
    saLogFile.lpSecurityDescriptor = pSd;
    psaLogFile = &saLogFile;
    return ERROR_SUCCESS;
}

SECURITY_ATTRIBUTES* LogFileSecurity()
{
    return psaLogFile;
}

#include "eventlog/run_state.h"

#include <sddl.h>

#include <cstring>

#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

// What the key holds decides what the next run reports, so only SYSTEM and
// Administrators may write it; anyone may read it.
constexpr char RUN_STATE_SDDL[] = "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)";
SECURITY_ATTRIBUTES saRunState = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaRunState = nullptr;
// A subkey's name at the most, terminator included.
constexpr size_t SUBKEY_NAME_SIZE = 256;
// Room for the owner and DACL read back: two SIDs and three entries.
constexpr size_t SECURITY_BUFFER_SIZE = 512;
constexpr REGSAM PROTECTED_KEY_ACCESS = KEY_QUERY_VALUE | KEY_SET_VALUE | READ_CONTROL | WRITE_DAC | WRITE_OWNER;

constexpr char RUN_VALUE[] = "Run";
constexpr char SEQUENCE_VALUE[] = "Sequence";
constexpr char CLEAN_VALUE[] = "Clean";
constexpr char LOST_LINES_VALUE[] = "LostLines";

// Kept open for the life of the process: saving a value costs one write.
HKEY hRunState = nullptr;

DWORD LoadDword(const char* pszName)
{
    DWORD dwValue = 0;
    DWORD dwType = 0;
    DWORD cb = sizeof dwValue;
    if (hRunState == nullptr ||
        RegQueryValueExA(hRunState, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &cb) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD || cb != sizeof dwValue)
        return 0;
    return dwValue;
}

RunStateResult SaveDword(const char* pszName, DWORD dwValue)
{
    if (hRunState == nullptr) return {ERROR_SUCCESS, nullptr, nullptr};
    const LONG lError =
        RegSetValueExA(hRunState, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", pszName, static_cast<DWORD>(lError));
    return {lError, "RegSetValueExA", pszName};
}

RunStateResult Flush(const RunStateResult& saved)
{
    if (saved.lError != ERROR_SUCCESS || hRunState == nullptr) return saved;
    const LONG lError = RegFlushKey(hRunState);
    if (lError != ERROR_SUCCESS) TraceFailure("RegFlushKey", RUN_STATE_KEY, static_cast<DWORD>(lError));
    return {lError, "RegFlushKey", nullptr};
}

// The first failure of several steps, or the last success.
RunStateResult FirstFailure(const RunStateResult& first, const RunStateResult& second)
{
    return first.lError != ERROR_SUCCESS ? first : second;
}

// True when the key's owner and DACL are those of pSd.
bool HasProtection(HKEY hKey, PSECURITY_DESCRIPTOR pSd)
{
    BYTE buffer[SECURITY_BUFFER_SIZE];
    DWORD cb = sizeof buffer;
    if (RegGetKeySecurity(hKey, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buffer, &cb) !=
        ERROR_SUCCESS)
        return false;
    PSID pOwner = nullptr;
    PSID pWanted = nullptr;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    PACL pWantedDacl = nullptr;
    BOOL bPresent = FALSE;
    BOOL bWantedPresent = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD dwRevision = 0;
    return GetSecurityDescriptorOwner(buffer, &pOwner, &bDefaulted) && pOwner != nullptr &&
           GetSecurityDescriptorOwner(pSd, &pWanted, &bDefaulted) && EqualSid(pOwner, pWanted) &&
           GetSecurityDescriptorControl(buffer, &control, &dwRevision) && (control & SE_DACL_PROTECTED) != 0 &&
           GetSecurityDescriptorDacl(buffer, &bPresent, &pDacl, &bDefaulted) && bPresent && pDacl != nullptr &&
           GetSecurityDescriptorDacl(pSd, &bWantedPresent, &pWantedDacl, &bDefaulted) &&
           pDacl->AclSize == pWantedDacl->AclSize && std::memcmp(pDacl, pWantedDacl, pDacl->AclSize) == 0;
}

}  // namespace

SECURITY_ATTRIBUTES* RunStateSecurity()
{
    if (psaRunState != nullptr) return psaRunState;
    PSECURITY_DESCRIPTOR pSd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(RUN_STATE_SDDL, SDDL_REVISION_1, &pSd, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("ConvertStringSecurityDescriptorToSecurityDescriptorA", RUN_STATE_SDDL, dwError);
        return nullptr;
    }
    saRunState.lpSecurityDescriptor = pSd;
    psaRunState = &saRunState;
    return psaRunState;
}

RunStateResult OpenProtectedKey(const char* pszKey, HKEY* phKey, bool* pbCreated)
{
    DWORD dwDisposition = 0;
    if (*phKey == nullptr) {
        const LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                            PROTECTED_KEY_ACCESS, RunStateSecurity(), phKey, &dwDisposition);
        if (lError != ERROR_SUCCESS) {
            *phKey = nullptr;
            TraceFailure("RegCreateKeyExA", pszKey, static_cast<DWORD>(lError));
            return {lError, "RegCreateKeyExA", nullptr};
        }
    }
    if (pbCreated != nullptr) *pbCreated = dwDisposition == REG_CREATED_NEW_KEY;
    // RegCreateKeyExA opens a key that exists as it is: its maker's grants
    // stay unless they are replaced.
    const SECURITY_ATTRIBUTES* pSa = RunStateSecurity();
    if (pSa == nullptr)
        return {ERROR_INVALID_SECURITY_DESCR, "ConvertStringSecurityDescriptorToSecurityDescriptorA", nullptr};
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    LONG lError = RegSetKeySecurity(*phKey, parts, pSa->lpSecurityDescriptor);
    // What the system kept, not what it was told, is what protects the key.
    if (lError == ERROR_SUCCESS && !HasProtection(*phKey, pSa->lpSecurityDescriptor))
        lError = ERROR_INVALID_SECURITY_DESCR;
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetKeySecurity", pszKey, static_cast<DWORD>(lError));
    return {lError, "RegSetKeySecurity", nullptr};
}

RunStateResult OpenRunState()
{
    return OpenProtectedKey(RUN_STATE_KEY, &hRunState, nullptr);
}

PreviousRun LoadPreviousRun()
{
    PreviousRun previous = {"", LoadDword(SEQUENCE_VALUE), LoadDword(CLEAN_VALUE) != 0};
    char szRun[RUN_ID_SIZE + 1] = "";  // room for a terminator the value may lack
    DWORD dwType = 0;
    DWORD cb = RUN_ID_SIZE;
    if (hRunState != nullptr &&
        RegQueryValueExA(hRunState, RUN_VALUE, nullptr, &dwType, reinterpret_cast<BYTE*>(szRun), &cb) ==
            ERROR_SUCCESS &&
        dwType == REG_SZ)
        CopyText(previous.szRun, szRun);
    return previous;
}

RunStateResult SaveRunStart(const char* pszRun)
{
    if (hRunState == nullptr) return {ERROR_SUCCESS, nullptr, nullptr};
    const LONG lError = RegSetValueExA(hRunState, RUN_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszRun),
                                       static_cast<DWORD>(lstrlenA(pszRun)) + 1);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", RUN_VALUE, static_cast<DWORD>(lError));
    const RunStateResult run = {lError, "RegSetValueExA", RUN_VALUE};
    const RunStateResult sequence = SaveDword(SEQUENCE_VALUE, 0);
    const RunStateResult clean = SaveDword(CLEAN_VALUE, 0);
    return Flush(FirstFailure(run, FirstFailure(sequence, clean)));
}

RunStateResult SaveLastSequence(DWORD dwSequence)
{
    return SaveDword(SEQUENCE_VALUE, dwSequence);
}

RunStateResult SaveCleanEnd()
{
    return Flush(SaveDword(CLEAN_VALUE, 1));
}

DWORD LoadLostLines()
{
    return LoadDword(LOST_LINES_VALUE);
}

RunStateResult SaveLostLines(DWORD dwCount)
{
    return SaveDword(LOST_LINES_VALUE, dwCount);
}

namespace {

LONG DeleteKeyTree(HKEY hParent, const char* pszKey)
{
    HKEY hKey = nullptr;
    LONG lError = RegOpenKeyExA(hParent, pszKey, 0, KEY_ENUMERATE_SUB_KEYS | DELETE, &hKey);
    if (lError != ERROR_SUCCESS) return lError;
    ScopedRegKey key(hKey);
    char szSubKey[SUBKEY_NAME_SIZE];
    for (;;) {
        DWORD cchSubKey = SUBKEY_NAME_SIZE;
        lError = RegEnumKeyExA(hKey, 0, szSubKey, &cchSubKey, nullptr, nullptr, nullptr, nullptr);
        if (lError == ERROR_NO_MORE_ITEMS) break;
        if (lError == ERROR_SUCCESS) lError = DeleteKeyTree(hKey, szSubKey);
        if (lError != ERROR_SUCCESS) return lError;
    }
    key.reset();
    return RegDeleteKeyA(hParent, pszKey);
}

}  // namespace

LONG RemoveRunState()
{
    const LONG lError = DeleteKeyTree(HKEY_LOCAL_MACHINE, RUN_STATE_KEY);
    return lError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lError;
}

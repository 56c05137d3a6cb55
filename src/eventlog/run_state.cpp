#include "eventlog/run_state.h"

#include <sddl.h>

#include "log/trace.h"
#include "util/text.h"

namespace {

// What the key holds decides what the next run reports, so only SYSTEM and
// Administrators may write it; anyone may read it.
constexpr char RUN_STATE_SDDL[] = "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)(A;;KR;;;BU)";
SECURITY_ATTRIBUTES saRunState = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
SECURITY_ATTRIBUTES* psaRunState = nullptr;

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

void SaveDword(const char* pszName, DWORD dwValue)
{
    if (hRunState == nullptr) return;
    const LONG lError =
        RegSetValueExA(hRunState, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", pszName, static_cast<DWORD>(lError));
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

void OpenRunState()
{
    if (hRunState != nullptr) return;
    const LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_QUERY_VALUE | KEY_SET_VALUE, RunStateSecurity(), &hRunState, nullptr);
    if (lError != ERROR_SUCCESS) {
        hRunState = nullptr;
        TraceFailure("RegCreateKeyExA", RUN_STATE_KEY, static_cast<DWORD>(lError));
    }
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

void SaveRunStart(const char* pszRun)
{
    if (hRunState == nullptr) return;
    const LONG lError = RegSetValueExA(hRunState, RUN_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszRun),
                                       static_cast<DWORD>(lstrlenA(pszRun)) + 1);
    if (lError != ERROR_SUCCESS) TraceFailure("RegSetValueExA", RUN_VALUE, static_cast<DWORD>(lError));
    SaveDword(SEQUENCE_VALUE, 0);
    SaveDword(CLEAN_VALUE, 0);
}

void SaveLastSequence(DWORD dwSequence)
{
    SaveDword(SEQUENCE_VALUE, dwSequence);
}

void SaveCleanEnd()
{
    SaveDword(CLEAN_VALUE, 1);
}

DWORD LoadLostLines()
{
    return LoadDword(LOST_LINES_VALUE);
}

void SaveLostLines(DWORD dwCount)
{
    SaveDword(LOST_LINES_VALUE, dwCount);
}

LONG RemoveRunState()
{
    const LONG lError = RegDeleteKeyA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY);
    return lError == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lError;
}

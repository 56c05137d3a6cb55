#include "log/run_state.h"

#include "log/log_security.h"
#include "log/trace.h"
#include "util/text.h"

namespace {

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
    if (lError != ERROR_SUCCESS) Trace(1, "run state: %s not saved, Error=%ld", pszName, lError);
}

}  // namespace

void OpenRunState()
{
    if (hRunState != nullptr) return;
    const LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, RUN_STATE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_QUERY_VALUE | KEY_SET_VALUE, RunStateSecurity(), &hRunState, nullptr);
    if (lError != ERROR_SUCCESS) {
        hRunState = nullptr;
        Trace(1, "run state: HKLM\\%s not opened, Error=%ld", RUN_STATE_KEY, lError);
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
    if (lError != ERROR_SUCCESS) Trace(1, "run state: %s not saved, Error=%ld", RUN_VALUE, lError);
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

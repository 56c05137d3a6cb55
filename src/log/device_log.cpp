#include "log/device_log.h"

#include <cstdarg>
#include <cstring>

#include "log/append_file.h"
#include "log/log_backlog.h"
#include "log/log_line.h"
#include "log/log_security.h"
#include "log/now_text.h"
#include "util/critical_section.h"
#include "util/scoped_handle.h"
#include "util/text.h"

namespace {

constexpr size_t LOG_MESSAGE_SIZE = 1024;
// How often a drain tries a held device log again.
constexpr DWORD DRAIN_RETRY_MS = 250;

// Device events append on the window thread, the stop drains on the service
// thread. Everything below is used under the lock.
CCriticalSection logLock;

// Lines the device log could not take yet. Explicitly in .bss: with a section
// per datum the toolchain would otherwise store its zeros in the executable.
CLogBacklog backlog __attribute__((section(".bss")));
// What a short write left of a line. It goes before anything else, so that
// no line is split by another, and no part of one is written twice.
char szRest[LOG_LINE_SIZE];
// An earlier run's count of lost lines, reported already.
DWORD dwCarriedLost = 0;
// One episode of an unwritable log lasts until a line is written again: its
// latest error, and whether its event is out.
DWORD dwEpisodeError = ERROR_SUCCESS;
bool bEpisodeReported = false;
DeviceLogNotice notice = {};

// A file that another program holds is an everyday matter and reported only
// once lines are being lost; any other refusal is reported at once.
void NoteFailure(DWORD dwError)
{
    dwEpisodeError = dwError;
    if (bEpisodeReported || IsHeldFileError(dwError)) return;
    bEpisodeReported = true;
    notice.dwUnwritableError = dwError;
}

void NoteOverflow()
{
    if (bEpisodeReported) return;
    bEpisodeReported = true;
    notice.dwUnwritableError = dwEpisodeError != ERROR_SUCCESS ? dwEpisodeError : ERROR_SHARING_VIOLATION;
}

enum class LineFate {
    Written,  // all of it is in the file
    Taken,    // part of it is; the rest waits in szRest
    Refused,  // none of it is
};

LineFate AppendDeviceText(const char* pszText)
{
    const AppendOutcome outcome = TryAppend(DEVICE_LOG_PATH, pszText);
    if (outcome.result == AppendResult::Written) {
        bEpisodeReported = false;
        dwEpisodeError = ERROR_SUCCESS;
        return LineFate::Written;
    }
    NoteFailure(outcome.dwError);
    if (outcome.cbWritten == 0) return LineFate::Refused;
    const char* pszRest = pszText + outcome.cbWritten;
    std::memmove(szRest, pszRest, std::strlen(pszRest) + 1);  // pszText may be szRest itself
    return LineFate::Taken;
}

void BuildDatedLine(char (&szLine)[LOG_LINE_SIZE], const char* pszMessage)
{
    char szDate[DATETIME_SIZE];
    FormatNowDate(szDate);
    char szTime[DATETIME_SIZE];
    FormatNowTime(szTime);
    FormatLine(szLine, "\r\n", "%s - %s  %s", szDate, szTime, pszMessage);
}

// The one line that tells how many lines could not be written, dated when
// it is written.
LineFate AppendLossLine(DWORD dwLost)
{
    char szMessage[LOG_MESSAGE_SIZE];
    FormatText(szMessage, "Plugtrail: %lu device log lines lost while the log could not be written", dwLost);
    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    return AppendDeviceText(szLine);
}

// Writes what waits, in the order it came: the rest of a line cut short, an
// earlier run's loss, the waiting lines, then the count of those that did
// not fit. True when nothing waits any more.
bool FlushBacklogLocked()
{
    if (szRest[0] != '\0') {
        if (AppendDeviceText(szRest) != LineFate::Written) return false;
        szRest[0] = '\0';
    }
    if (dwCarriedLost != 0) {
        const LineFate fate = AppendLossLine(dwCarriedLost);
        if (fate == LineFate::Refused) return false;
        dwCarriedLost = 0;
        notice.bCarriedLossWritten = true;
        if (fate == LineFate::Taken) return false;
    }
    while (const char* pszLine = backlog.Front()) {
        const LineFate fate = AppendDeviceText(pszLine);
        if (fate == LineFate::Refused) return false;
        backlog.Pop();
        if (fate == LineFate::Taken) return false;
    }
    if (backlog.Lost() != 0) {
        const LineFate fate = AppendLossLine(backlog.Lost());
        if (fate == LineFate::Refused) return false;
        notice.dwLostWritten += backlog.Lost();
        backlog.ClearLost();
        if (fate == LineFate::Taken) return false;
    }
    return true;
}

// A line goes behind any line that already waits.
void AppendDeviceLine(const char* pszLine)
{
    CLocked locked(logLock);
    if (FlushBacklogLocked() && AppendDeviceText(pszLine) != LineFate::Refused) return;
    if (!backlog.Push(pszLine)) NoteOverflow();
}

}  // namespace

DeviceLogState CreateDeviceLog(DWORD* pdwError)
{
    InitLogSecurity();
    *pdwError = ERROR_SUCCESS;
    {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, LogFileSecurity(), CREATE_NEW, 0, nullptr));
        if (file) return DeviceLogState::Writable;
        *pdwError = GetLastError();
    }
    // A folder of that name gives CREATE_NEW the same answer as a file.
    const DWORD dwAttributes = GetFileAttributesA(DEVICE_LOG_PATH);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Trace(1, "CreateDeviceLog: %s is a folder, no device can be logged", DEVICE_LOG_PATH);
        return DeviceLogState::Folder;
    }
    // An existing log keeps its contents and permissions; whether lines can be
    // added to it is tried without writing one.
    if (*pdwError == ERROR_FILE_EXISTS) {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        *pdwError = file ? ERROR_SUCCESS : GetLastError();
    }
    if (*pdwError == ERROR_SUCCESS || IsHeldFileError(*pdwError)) return DeviceLogState::Writable;
    Trace(1, "CreateDeviceLog: %s cannot be written, Error=%lu", DEVICE_LOG_PATH, *pdwError);
    return *pdwError == ERROR_ACCESS_DENIED ? DeviceLogState::AccessDenied : DeviceLogState::Unwritable;
}

void LogDevice(const char* pszFormat, ...)
{
    char szMessage[LOG_MESSAGE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szMessage, pszFormat, args);
    va_end(args);
    ReplaceControlChars(szMessage);

    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    AppendDeviceLine(szLine);
}

DeviceLogNotice TakeDeviceLogNotice()
{
    CLocked locked(logLock);
    const DeviceLogNotice taken = notice;
    notice = {};
    return taken;
}

void CarryLostLines(DWORD dwCount)
{
    CLocked locked(logLock);
    dwCarriedLost = dwCount;
}

bool DeviceLogBacklogPending()
{
    CLocked locked(logLock);
    return szRest[0] != '\0' || dwCarriedLost != 0 || backlog.Count() != 0 || backlog.Lost() != 0;
}

bool FlushDeviceLogBacklog()
{
    CLocked locked(logLock);
    return FlushBacklogLocked();
}

bool DrainDeviceLogBacklog(DWORD dwTimeoutMs, void (*pfnProgress)())
{
    const DWORD dwStart = GetTickCount();
    while (!FlushDeviceLogBacklog()) {
        if (GetTickCount() - dwStart >= dwTimeoutMs) return false;
        if (pfnProgress != nullptr) pfnProgress();
        Sleep(DRAIN_RETRY_MS);
    }
    return true;
}

DeviceLogLoss DiscardDeviceLogBacklog()
{
    CLocked locked(logLock);
    DeviceLogLoss loss = {backlog.Lost(), dwCarriedLost};
    if (szRest[0] != '\0') {
        Trace(1, "DiscardDeviceLogBacklog: not finished: %s", szRest);
        szRest[0] = '\0';
        ++loss.dwNew;
    }
    for (const char* pszLine; (pszLine = backlog.Front()) != nullptr; backlog.Pop()) {
        Trace(1, "DiscardDeviceLogBacklog: not written: %.*s", lstrlenA(pszLine) - 2, pszLine);
        ++loss.dwNew;
    }
    if (backlog.Lost() != 0) Trace(1, "DiscardDeviceLogBacklog: %lu more lines lost", backlog.Lost());
    backlog.ClearLost();
    dwCarriedLost = 0;
    return loss;
}

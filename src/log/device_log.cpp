#include "log/device_log.h"

#include <cstdarg>
#include <cstring>

#include "log/append_file.h"
#include "log/log_file_security.h"
#include "log/log_line.h"
#include "log/now_text.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

// Explicitly in .bss: with a section per datum the toolchain would otherwise
// store the backlog's quarter megabyte of zeros in the executable.
CDeviceLog theDeviceLog __attribute__((section(".bss")));

namespace {

constexpr size_t LOG_MESSAGE_SIZE = 1024;
// How often a drain tries a held device log again.
constexpr DWORD DRAIN_RETRY_MS = 250;

void BuildDatedLine(char (&szLine)[LOG_LINE_SIZE], const char* pszMessage)
{
    char szDate[DATETIME_SIZE];
    FormatNowDate(szDate);
    char szTime[DATETIME_SIZE];
    FormatNowTime(szTime);
    FormatLine(szLine, "\r\n", "%s - %s  %s", szDate, szTime, pszMessage);
}

bool HasNews(const DeviceLogNotice& notice)
{
    return notice.dwLostWritten != 0 || notice.bCarriedLossWritten || notice.dwUnwritableError != ERROR_SUCCESS;
}

}  // namespace

// A file that another program holds is an everyday matter and reported only
// once lines are being lost; any other refusal is reported at once.
void CDeviceLog::NoteFailure(DWORD dwError)
{
    m_dwEpisodeError = dwError;
    if (m_bEpisodeReported || IsHeldFileError(dwError)) return;
    m_bEpisodeReported = true;
    m_notice.dwUnwritableError = dwError;
}

void CDeviceLog::NoteOverflow()
{
    if (m_bEpisodeReported) return;
    m_bEpisodeReported = true;
    m_notice.dwUnwritableError = m_dwEpisodeError != ERROR_SUCCESS ? m_dwEpisodeError : ERROR_SHARING_VIOLATION;
}

CDeviceLog::LineFate CDeviceLog::WriteText(const char* pszText)
{
    const AppendOutcome outcome = TryAppend(DEVICE_LOG_PATH, pszText);
    if (outcome.result == AppendResult::Written) {
        m_bEpisodeReported = false;
        m_dwEpisodeError = ERROR_SUCCESS;
        return LineFate::Written;
    }
    NoteFailure(outcome.dwError);
    if (outcome.cbWritten == 0) return LineFate::Refused;
    const char* pszRest = pszText + outcome.cbWritten;
    std::memmove(m_szRest, pszRest, std::strlen(pszRest) + 1);  // pszText may be m_szRest itself
    return LineFate::Taken;
}

// The one line that tells how many lines could not be written, dated when
// it is written.
CDeviceLog::LineFate CDeviceLog::AppendLossLine(DWORD dwLost)
{
    char szMessage[LOG_MESSAGE_SIZE];
    FormatText(szMessage, "Plugtrail: %lu device log lines lost while the log could not be written", dwLost);
    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    return WriteText(szLine);
}

// Writes what waits, in the order it came: the rest of a line cut short, an
// earlier run's loss, the waiting lines, then the count of those that did
// not fit. True when nothing waits any more.
bool CDeviceLog::FlushLocked()
{
    if (m_szRest[0] != '\0') {
        if (WriteText(m_szRest) != LineFate::Written) return false;
        m_szRest[0] = '\0';
    }
    if (m_dwCarriedLost != 0) {
        const LineFate fate = AppendLossLine(m_dwCarriedLost);
        if (fate == LineFate::Refused) return false;
        m_dwCarriedLost = 0;
        m_notice.bCarriedLossWritten = true;
        if (fate == LineFate::Taken) return false;
    }
    while (const char* pszLine = m_backlog.Front()) {
        const LineFate fate = WriteText(pszLine);
        if (fate == LineFate::Refused) return false;
        m_backlog.Pop();
        if (fate == LineFate::Taken) return false;
    }
    if (m_backlog.Lost() != 0) {
        const LineFate fate = AppendLossLine(m_backlog.Lost());
        if (fate == LineFate::Refused) return false;
        m_notice.dwLostWritten += m_backlog.Lost();
        m_backlog.ClearLost();
        if (fate == LineFate::Taken) return false;
    }
    return true;
}

void CDeviceLog::Deliver()
{
    DeviceLogNotice notice;
    DeviceLogNoticeSink pfnSink;
    {
        CLocked locked(m_lock);
        pfnSink = m_pfnSink;
        if (pfnSink == nullptr || !HasNews(m_notice)) return;
        notice = m_notice;
        m_notice = {};
    }
    pfnSink(notice);
}

DeviceLogState CDeviceLog::Create(DWORD* pdwError)
{
    InitLogFileSecurity();
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
    TraceFailure("CreateFileA", DEVICE_LOG_PATH, *pdwError);
    return *pdwError == ERROR_ACCESS_DENIED ? DeviceLogState::AccessDenied : DeviceLogState::Unwritable;
}

// A line goes behind any line that already waits.
void CDeviceLog::AppendLine(const char* pszLine)
{
    {
        CLocked locked(m_lock);
        if (!(FlushLocked() && WriteText(pszLine) != LineFate::Refused) && !m_backlog.Push(pszLine)) NoteOverflow();
    }
    Deliver();
}

void CDeviceLog::SetNoticeSink(DeviceLogNoticeSink pfnSink)
{
    {
        CLocked locked(m_lock);
        m_pfnSink = pfnSink;
    }
    Deliver();
}

void CDeviceLog::CarryLostLines(DWORD dwCount)
{
    CLocked locked(m_lock);
    m_dwCarriedLost = dwCount;
}

bool CDeviceLog::BacklogPending()
{
    CLocked locked(m_lock);
    return m_szRest[0] != '\0' || m_dwCarriedLost != 0 || m_backlog.Count() != 0 || m_backlog.Lost() != 0;
}

bool CDeviceLog::FlushBacklog()
{
    bool bFlushed;
    {
        CLocked locked(m_lock);
        bFlushed = FlushLocked();
    }
    Deliver();
    return bFlushed;
}

bool CDeviceLog::DrainBacklog(DWORD dwTimeoutMs, void (*pfnProgress)())
{
    const DWORD dwStart = GetTickCount();
    while (!FlushBacklog()) {
        if (GetTickCount() - dwStart >= dwTimeoutMs) return false;
        if (pfnProgress != nullptr) pfnProgress();
        Sleep(DRAIN_RETRY_MS);
    }
    return true;
}

DeviceLogLoss CDeviceLog::DiscardBacklog()
{
    CLocked locked(m_lock);
    DeviceLogLoss loss = {m_backlog.Lost(), m_dwCarriedLost};
    if (m_szRest[0] != '\0') {
        Trace(1, "CDeviceLog::DiscardBacklog: not finished: %s", m_szRest);
        m_szRest[0] = '\0';
        ++loss.dwNew;
    }
    for (const char* pszLine; (pszLine = m_backlog.Front()) != nullptr; m_backlog.Pop()) {
        Trace(1, "CDeviceLog::DiscardBacklog: not written: %.*s", lstrlenA(pszLine) - 2, pszLine);
        ++loss.dwNew;
    }
    if (m_backlog.Lost() != 0) Trace(1, "CDeviceLog::DiscardBacklog: %lu more lines lost", m_backlog.Lost());
    m_backlog.ClearLost();
    m_dwCarriedLost = 0;
    return loss;
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
    theDeviceLog.AppendLine(szLine);
}

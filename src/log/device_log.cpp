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
// How much of the log's end tells whether its last line is finished.
constexpr size_t LINE_END_TAIL_SIZE = 2;

void BuildDatedLine(char (&szLine)[LOG_LINE_SIZE], const char* pszMessage)
{
    char szDate[DATETIME_SIZE];
    FormatNowDate(szDate);
    char szTime[DATETIME_SIZE];
    FormatNowTime(szTime);
    FormatLine(szLine, "\r\n", "%s - %s  %s", szDate, szTime, pszMessage);
}

// The last bytes of the log, at most two: none for a log that is not there.
// False, with the error, when the log is there but cannot be read now.
bool ReadLogTail(char (&tail)[LINE_END_TAIL_SIZE], size_t* pcbTail, DWORD* pdwError)
{
    *pcbTail = 0;
    ScopedFile file(CreateFileA(DEVICE_LOG_PATH, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) {
        *pdwError = GetLastError();
        return *pdwError == ERROR_FILE_NOT_FOUND;
    }
    const DWORD cbFile = GetFileSize(file.get(), nullptr);
    if (cbFile == 0) return true;
    const DWORD cbBack = cbFile < LINE_END_TAIL_SIZE ? cbFile : static_cast<DWORD>(LINE_END_TAIL_SIZE);
    DWORD cbRead = 0;
    if (SetFilePointer(file.get(), -static_cast<LONG>(cbBack), nullptr, FILE_END) == INVALID_SET_FILE_POINTER ||
        !ReadFile(file.get(), tail, cbBack, &cbRead, nullptr)) {
        *pdwError = GetLastError();
        return false;
    }
    *pcbTail = cbRead;
    return true;
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

CDeviceLog::LineFate CDeviceLog::WriteText(const char* pszText, RestOf restOf)
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
    m_restOf = restOf;
    return LineFate::Taken;
}

// A whole line starts a line of its own: the first this run writes finishes
// whatever line an earlier run left cut short.
CDeviceLog::LineFate CDeviceLog::WriteLine(const char* pszLine, RestOf restOf)
{
    if (!m_bEndChecked) {
        char tail[LINE_END_TAIL_SIZE];
        size_t cbTail = 0;
        DWORD dwError = ERROR_SUCCESS;
        if (!ReadLogTail(tail, &cbTail, &dwError)) {
            NoteFailure(dwError);
            return LineFate::Refused;
        }
        m_pszLineEndRepair = LineEndRepair(tail, cbTail);
        m_bEndChecked = true;
    }
    if (m_pszLineEndRepair[0] != '\0') {
        const LineFate fate = WriteText(m_pszLineEndRepair, RestOf::LineEnd);
        if (fate != LineFate::Refused) m_pszLineEndRepair = "";
        if (fate != LineFate::Written) return LineFate::Refused;
    }
    return WriteText(pszLine, restOf);
}

// The one line that tells how many lines could not be written, dated when
// it is written.
CDeviceLog::LineFate CDeviceLog::AppendLossLine(DWORD dwLost, RestOf restOf)
{
    char szMessage[LOG_MESSAGE_SIZE];
    FormatText(szMessage, "Plugtrail: %lu device log lines lost while the log could not be written", dwLost);
    char szLine[LOG_LINE_SIZE];
    BuildDatedLine(szLine, szMessage);
    return WriteLine(szLine, restOf);
}

// The rest of a line cut short goes before anything else. A loss line's
// count is written once all of its line is.
bool CDeviceLog::WriteRest()
{
    if (m_szRest[0] == '\0') return true;
    if (WriteText(m_szRest, m_restOf) != LineFate::Written) return false;
    m_szRest[0] = '\0';
    switch (m_restOf) {
    case RestOf::CarriedLoss:
        m_dwCarriedLost = 0;
        m_notice.bCarriedLossWritten = true;
        break;
    case RestOf::BacklogLoss:
        m_notice.dwLostWritten = AddCounts(m_notice.dwLostWritten, m_dwRestLost);
        m_dwRestLost = 0;
        break;
    case RestOf::Line:
    case RestOf::LineEnd:
        break;
    }
    return true;
}

// Writes what waits, in the order it came: the rest of a line cut short, an
// earlier run's loss, the waiting lines, then the count of those that did
// not fit. True when nothing waits any more.
bool CDeviceLog::FlushLocked()
{
    if (m_bClosed) return true;
    if (!WriteRest()) return false;
    if (m_dwCarriedLost != 0) {
        if (AppendLossLine(m_dwCarriedLost, RestOf::CarriedLoss) != LineFate::Written) return false;
        m_dwCarriedLost = 0;
        m_notice.bCarriedLossWritten = true;
    }
    while (const char* pszLine = m_backlog.Front()) {
        const LineFate fate = WriteLine(pszLine, RestOf::Line);
        if (fate == LineFate::Refused) return false;
        m_backlog.Pop();
        if (fate == LineFate::Taken) return false;
    }
    if (m_backlog.Lost() != 0) {
        const DWORD dwLost = m_backlog.Lost();
        const LineFate fate = AppendLossLine(dwLost, RestOf::BacklogLoss);
        if (fate == LineFate::Refused) return false;
        m_backlog.ClearLost();
        if (fate == LineFate::Taken) {
            m_dwRestLost = dwLost;
            return false;
        }
        m_notice.dwLostWritten = AddCounts(m_notice.dwLostWritten, dwLost);
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
    const DeviceLogState state = Probe(pdwError);
    CLocked locked(m_lock);
    m_bClosed = false;
    m_bEndChecked = false;
    // The run's first word on the log, if the log cannot take lines: the
    // first line that then waits gives no second report.
    if (state != DeviceLogState::Writable) NoteFailure(*pdwError);
    return state;
}

DeviceLogState CDeviceLog::Probe(DWORD* pdwError)
{
    *pdwError = ERROR_SUCCESS;
    {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, LogFileSecurity(), CREATE_NEW, 0, nullptr));
        if (file) return DeviceLogState::Writable;
        *pdwError = GetLastError();
    }
    // An existing log keeps its contents and permissions; whether lines can be
    // added to it is tried without writing one. A folder of that name gives
    // CREATE_NEW the same answer as a file, and this open the answer a line
    // would get.
    if (*pdwError == ERROR_FILE_EXISTS) {
        ScopedFile file(
            CreateFileA(DEVICE_LOG_PATH, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        *pdwError = file ? ERROR_SUCCESS : GetLastError();
    }
    if (*pdwError == ERROR_SUCCESS || IsHeldFileError(*pdwError)) return DeviceLogState::Writable;
    TraceFailure("CreateFileA", DEVICE_LOG_PATH, *pdwError);
    const DWORD dwAttributes = GetFileAttributesA(DEVICE_LOG_PATH);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return DeviceLogState::Folder;
    return *pdwError == ERROR_ACCESS_DENIED ? DeviceLogState::AccessDenied : DeviceLogState::Unwritable;
}

// A line goes behind any line that already waits.
void CDeviceLog::AppendLine(const char* pszLine)
{
    {
        CLocked locked(m_lock);
        if (m_bClosed) {
            Trace(1, "CDeviceLog::AppendLine: the run has ended: %s", pszLine);
            return;
        }
        if (!(FlushLocked() && WriteLine(pszLine, RestOf::Line) != LineFate::Refused) && !m_backlog.Push(pszLine))
            NoteOverflow();
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
    return !m_bClosed &&
           (m_szRest[0] != '\0' || m_dwCarriedLost != 0 || m_backlog.Count() != 0 || m_backlog.Lost() != 0);
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
        // A cut loss line loses no line of its own: its count is still
        // unwritten, and counted as such.
        if (m_restOf == RestOf::Line) loss.dwNew = AddCounts(loss.dwNew, 1);
        if (m_restOf == RestOf::BacklogLoss) loss.dwNew = AddCounts(loss.dwNew, m_dwRestLost);
        m_szRest[0] = '\0';
        m_dwRestLost = 0;
    }
    for (const char* pszLine; (pszLine = m_backlog.Front()) != nullptr; m_backlog.Pop()) {
        Trace(1, "CDeviceLog::DiscardBacklog: not written: %.*s", lstrlenA(pszLine) - 2, pszLine);
        loss.dwNew = AddCounts(loss.dwNew, 1);
    }
    if (m_backlog.Lost() != 0) Trace(1, "CDeviceLog::DiscardBacklog: %lu more lines lost", m_backlog.Lost());
    m_backlog.ClearLost();
    m_dwCarriedLost = 0;
    return loss;
}

void CDeviceLog::Close()
{
    CLocked locked(m_lock);
    m_bClosed = true;
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

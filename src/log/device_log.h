// The device log: one dated line per attachment or removal, appended to
// C:\_UsbDevices.log. A line the file does not take, for whatever reason,
// waits in memory behind the others and is tried again; lines beyond what
// memory holds are counted, and the count goes into the log as a line of its
// own once the log takes lines again. No line leaves memory unless it is
// written or counted.
#pragma once

#include <windows.h>

#include "log/log_backlog.h"
#include "util/critical_section.h"
#include "util/printf_format.h"

constexpr char DEVICE_LOG_PATH[] = "C:\\_UsbDevices.log";

enum class DeviceLogState { Writable, Folder, AccessDenied, Unwritable };

// What the device log has to tell the Application log. The log itself
// reports nothing: it hands each notice to the sink the run installs.
struct DeviceLogNotice {
    DWORD dwLostWritten;       // lost lines whose count the log now holds in a line of its own
    bool bCarriedLossWritten;  // the earlier run's loss line is in the file
    DWORD dwUnwritableError;   // non-zero: the log cannot be written, for this reason
};
using DeviceLogNoticeSink = void (*)(const DeviceLogNotice& notice);

struct DeviceLogLoss {
    DWORD dwNew;      // this run's: waiting, overflowed and cut-short lines
    DWORD dwCarried;  // the earlier run's count, not written yet
};

// Device events append on the window thread, the stop drains on the service
// thread: every field is used under the lock, and the sink is called outside
// it, on the thread whose call gave rise to the notice.
class CDeviceLog {
public:
    CDeviceLog() = default;
    CDeviceLog(const CDeviceLog&) = delete;
    CDeviceLog& operator=(const CDeviceLog&) = delete;

    // At the start of a run: creates the log empty and protected unless the
    // name is already taken, so that nobody can claim the name before the
    // first device line. Then tells, without writing a line, whether lines
    // can be appended; a file held by another process for now counts as
    // writable. Any other answer opens an episode of an unwritable log, whose
    // notice goes to the sink once there is one; *pdwError gets the error
    // behind it.
    DeviceLogState Create(DWORD* pdwError);

    // Appends one finished line (date, time and line end included), or queues
    // it behind the lines that wait. Returns at once either way.
    void AppendLine(const char* pszLine);

    // From now on each notice goes to pfnSink as it arises; those noted
    // before are handed over at once.
    void SetNoticeSink(DeviceLogNoticeSink pfnSink);

    // An earlier run's count of lines it could not write, reported already:
    // its line goes into the log before any other.
    void CarryLostLines(DWORD dwCount);

    // True while device log lines, or a count of lost ones, wait for the file.
    bool BacklogPending();
    // Writes what waits, in order; true when nothing waits any more.
    bool FlushBacklog();
    // Flushes until nothing waits or dwTimeoutMs has passed, calling
    // pfnProgress (may be null) before each further wait; true when nothing
    // waits any more.
    bool DrainBacklog(DWORD dwTimeoutMs, void (*pfnProgress)());
    // Gives up whatever still waits: each line is traced and dropped, and
    // counted.
    DeviceLogLoss DiscardBacklog();
    // At the end of the run: nothing is written any more.
    void Close();

private:
    enum class LineFate {
        Written,  // all of it is in the file
        Taken,    // part of it is; the rest waits in m_szRest
        Refused,  // none of it is
    };

    // What m_szRest is the rest of: a loss line's count counts as written
    // only once all of the line is.
    enum class RestOf { Line, CarriedLoss, BacklogLoss, LineEnd };

    DeviceLogState Probe(DWORD* pdwError);
    LineFate WriteText(const char* pszText, RestOf restOf);
    LineFate WriteLine(const char* pszLine, RestOf restOf);
    LineFate AppendLossLine(DWORD dwLost, RestOf restOf);
    bool WriteRest();
    bool FlushLocked();
    void NoteFailure(DWORD dwError);
    void NoteOverflow();
    // Hands what was noted to the sink, outside the lock.
    void Deliver();

    CCriticalSection m_lock;
    // Lines the file could not take yet.
    CLogBacklog m_backlog;
    // What a short write left of a line. It goes before anything else, so
    // that no line is split by another, and no part of one is written twice.
    char m_szRest[LOG_LINE_SIZE] = "";
    RestOf m_restOf = RestOf::Line;
    // The count of a loss line that waits in m_szRest.
    DWORD m_dwRestLost = 0;
    // Whether the file's end has been looked at this run, and what it lacks
    // of a line end.
    bool m_bEndChecked = false;
    const char* m_pszLineEndRepair = "";
    bool m_bClosed = false;
    // An earlier run's count of lost lines, reported already.
    DWORD m_dwCarriedLost = 0;
    // One episode of an unwritable log lasts until a line is written again:
    // its latest error, and whether its event is out.
    DWORD m_dwEpisodeError = ERROR_SUCCESS;
    bool m_bEpisodeReported = false;
    DeviceLogNotice m_notice = {};
    DeviceLogNoticeSink m_pfnSink = nullptr;
};

// The one device log.
extern CDeviceLog theDeviceLog;

// Appends one dated line, built printf-style, to the device log, or queues
// it behind the lines that wait. Returns at once either way.
void LogDevice(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);

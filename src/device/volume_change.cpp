#include "device/volume_change.h"

#include <dbt.h>

#include <algorithm>
#include <iterator>

#include "device/device_report.h"
#include "device/volume_info.h"
#include "device/volume_table.h"
#include "device/volume_thread.h"
#include "eventlog/event_log.h"
#include "log/trace.h"
#include "service/service.h"
#include "util/text.h"

namespace {

// Volume interfaces whose letter has not come yet: a few at a time, each for
// this long.
constexpr size_t PENDING_VOLUMES = 8;
constexpr DWORD PENDING_VOLUME_MS = 10000;
constexpr size_t VOLUME_NOTICE_SIZE = 2048;

struct PendingVolume {
    char szInterfacePath[VOLUME_INTERFACE_PATH_SIZE];  // empty: free
    DWORD dwSince;
};

// Used on the volume thread alone. Explicitly in .bss: with a section per
// datum the toolchain would otherwise store their zeros in the executable.
PendingVolume aPending[PENDING_VOLUMES] __attribute__((section(".bss")));
CVolumeTable volumeTable __attribute__((section(".bss")));

// Used on the window's thread alone: a change the queue could not take is
// on record once per run.
bool bQueueFullReported = false;

void Report(VolumeEvent event, const VolumeFacts& facts)
{
    const CVolumeReportScope reports;
    if (!reports.Open()) {
        Trace(1, "%s: the run has ended, not reported", facts.szDrive);
        return;
    }
    ReportVolume(event, facts);
}

void Arrive(char cLetter, const char* pszInterfacePath, bool bNewMedium, VolumeEvent event)
{
    VolumeFacts facts = {};
    if (!ReadVolumeFacts(cLetter, facts)) return;
    if (!volumeTable.Mount(facts, pszInterfacePath, bNewMedium)) {
        Trace(1, "%s: %s mounted already", facts.szDrive, facts.szVolumeName);
        return;
    }
    Report(event, facts);
}

void Leave(char cLetter)
{
    VolumeFacts facts;
    if (volumeTable.Unmount(cLetter, facts)) Report(VolumeEvent::Removed, facts);
}

void Forget(const char* pszInterfacePath)
{
    for (PendingVolume& pending : aPending) {
        if (pending.szInterfacePath[0] != '\0' && EqualsIgnoreAsciiCase(pending.szInterfacePath, pszInterfacePath))
            pending.szInterfacePath[0] = '\0';
    }
}

void Wait(const char* pszInterfacePath)
{
    for (PendingVolume& pending : aPending) {
        if (pending.szInterfacePath[0] != '\0') continue;
        CopyText(pending.szInterfacePath, pszInterfacePath);
        pending.dwSince = GetTickCount();
        return;
    }
    Trace(1, "volume interface %s: too many wait for their letters", pszInterfacePath);
}

// Looks for the letters of the volume interfaces that wait; true while some
// still wait.
bool RetryPendingVolumes()
{
    for (PendingVolume& pending : aPending) {
        if (pending.szInterfacePath[0] == '\0') continue;
        if (const char cLetter = LetterOfVolumeInterface(pending.szInterfacePath)) {
            Arrive(cLetter, pending.szInterfacePath, false, VolumeEvent::Mounted);
            pending.szInterfacePath[0] = '\0';
        } else if (GetTickCount() - pending.dwSince >= PENDING_VOLUME_MS) {
            Trace(1, "volume interface %s: no letter, not reported", pending.szInterfacePath);
            pending.szInterfacePath[0] = '\0';
        }
    }
    return std::any_of(std::begin(aPending), std::end(aPending),
                       [](const PendingVolume& pending) { return pending.szInterfacePath[0] != '\0'; });
}

// Hands a change to the volume thread. One the queue cannot take is lost:
// the first of a run is on record, with the changes that hold the queue up.
void Post(const VolumeRequest& request)
{
    if (PostVolumeChange(request)) return;
    char szChange[VOLUME_CHANGE_TEXT_SIZE];
    DescribeVolumeChange(szChange, request);
    Trace(1, "%s: the volume queue is full, not reported", szChange);
    if (bQueueFullReported) return;
    bQueueFullReported = true;
    char szText[VOLUME_NOTICE_SIZE];
    FormatText(szText,
               "A volume change was not reported: %s. %u volume changes were waiting already, behind a medium "
               "that does not answer. Later changes that do not fit are not reported either; this is reported "
               "once per run.",
               szChange, static_cast<unsigned>(VOLUME_QUEUE_SIZE));
    ReportServiceError(szText);
}

VolumeRequest LetterChange(VolumeChange change, char cLetter, bool bNewMedium)
{
    VolumeRequest request = {change, cLetter, bNewMedium, ""};
    return request;
}

}  // namespace

void OnVolumeBroadcast(const char* pszLetters, WORD wFlags, bool bArrived)
{
    if (wFlags & DBTF_NET) {
        Trace(1, "network volume %s: not reported", pszLetters);
        return;
    }
    for (const char* p = pszLetters; *p != '\0'; ++p)
        Post(LetterChange(bArrived ? VolumeChange::Arrived : VolumeChange::Removed, *p, (wFlags & DBTF_MEDIA) != 0));
}

void OnVolumeInterfaceChange(const char* pszInterfacePath, bool bArrived)
{
    Trace(1, "volume interface %s %s", pszInterfacePath, bArrived ? "arrived" : "removed");
    VolumeRequest request = LetterChange(bArrived ? VolumeChange::Arrived : VolumeChange::Removed, 0, false);
    CopyText(request.szInterfacePath, pszInterfacePath);
    Post(request);
}

void StartVolumeWork(const char* pszLettersPresent)
{
    bQueueFullReported = false;
    if (!StartVolumeThread(HandleVolumeChange, RetryPendingVolumes)) return;
    for (const char* p = pszLettersPresent; *p != '\0'; ++p)
        Post(LetterChange(VolumeChange::PresentAtStart, *p, false));
}

void EndVolumeWork()
{
    char szLeft[VOLUME_LEFT_TEXT_SIZE];
    const size_t cLeft = EndVolumeThread(WINDOW_CLOSE_MS, szLeft);
    if (cLeft == 0) return;
    char szText[VOLUME_NOTICE_SIZE];
    FormatText(szText,
               "The run ended while a medium did not answer: %u volume changes were not reported (%s). Their "
               "volumes were never read.",
               static_cast<unsigned>(cLeft), szLeft);
    ReportServiceError(szText);
}

void HandleVolumeChange(const VolumeRequest& request)
{
    const bool bArrived = request.change != VolumeChange::Removed;
    if (request.cLetter != 0) {
        if (bArrived)
            Arrive(request.cLetter, nullptr, request.bNewMedium,
                   request.change == VolumeChange::PresentAtStart ? VolumeEvent::PresentAtStart : VolumeEvent::Mounted);
        else
            Leave(request.cLetter);
        return;
    }
    Forget(request.szInterfacePath);
    if (!bArrived) {
        if (const char cLetter = volumeTable.LetterOfInterface(request.szInterfacePath)) Leave(cLetter);
        return;
    }
    if (const char cLetter = LetterOfVolumeInterface(request.szInterfacePath))
        Arrive(cLetter, request.szInterfacePath, false, VolumeEvent::Mounted);
    else
        Wait(request.szInterfacePath);
}

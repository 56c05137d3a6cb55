#include "device/volume_change.h"

#include <dbt.h>

#include <algorithm>
#include <iterator>

#include "device/device_report.h"
#include "device/volume_info.h"
#include "device/volume_table.h"
#include "log/trace.h"
#include "util/text.h"

namespace {

// Volume interfaces whose letter has not come yet: a few at a time, each for
// this long.
constexpr size_t PENDING_VOLUMES = 8;
constexpr DWORD PENDING_VOLUME_MS = 10000;

struct PendingVolume {
    char szInterfacePath[VOLUME_INTERFACE_PATH_SIZE];  // empty: free
    DWORD dwSince;
};
// Explicitly in .bss: with a section per datum the toolchain would otherwise
// store their zeros in the executable.
PendingVolume aPending[PENDING_VOLUMES] __attribute__((section(".bss")));
CVolumeTable volumeTable __attribute__((section(".bss")));

void Arrive(char cLetter, const char* pszInterfacePath, bool bNewMedium, VolumeEvent event)
{
    VolumeFacts facts = {};
    if (!ReadVolumeFacts(cLetter, facts)) return;
    if (!volumeTable.Mount(facts, pszInterfacePath, bNewMedium)) {
        Trace(1, "%s: %s mounted already", facts.szDrive, facts.szVolumeName);
        return;
    }
    ReportVolume(event, facts);
}

void Leave(char cLetter)
{
    VolumeFacts facts;
    if (volumeTable.Unmount(cLetter, facts)) ReportVolume(VolumeEvent::Removed, facts);
}

void Forget(const char* pszInterfacePath)
{
    for (PendingVolume& pending : aPending) {
        if (pending.szInterfacePath[0] != '\0' && EqualsIgnoreAsciiCase(pending.szInterfacePath, pszInterfacePath))
            pending.szInterfacePath[0] = '\0';
    }
}

}  // namespace

void OnVolumeBroadcast(const char* pszLetters, WORD wFlags, bool bArrived)
{
    if (wFlags & DBTF_NET) {
        Trace(1, "network volume %s: not reported", pszLetters);
        return;
    }
    for (const char* p = pszLetters; *p != '\0'; ++p) {
        if (bArrived) {
            Arrive(*p, nullptr, (wFlags & DBTF_MEDIA) != 0, VolumeEvent::Mounted);
        } else {
            Leave(*p);
        }
    }
}

void OnVolumeInterfaceChange(const char* pszInterfacePath, bool bArrived)
{
    Trace(1, "volume interface %s %s", pszInterfacePath, bArrived ? "arrived" : "removed");
    Forget(pszInterfacePath);
    if (!bArrived) {
        if (const char cLetter = volumeTable.LetterOfInterface(pszInterfacePath)) Leave(cLetter);
        return;
    }
    if (const char cLetter = LetterOfVolumeInterface(pszInterfacePath)) {
        Arrive(cLetter, pszInterfacePath, false, VolumeEvent::Mounted);
        return;
    }
    for (PendingVolume& pending : aPending) {
        if (pending.szInterfacePath[0] != '\0') continue;
        CopyText(pending.szInterfacePath, pszInterfacePath);
        pending.dwSince = GetTickCount();
        return;
    }
    Trace(1, "volume interface %s: too many wait for their letters", pszInterfacePath);
}

bool VolumesPending()
{
    return std::any_of(std::begin(aPending), std::end(aPending),
                       [](const PendingVolume& pending) { return pending.szInterfacePath[0] != '\0'; });
}

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
    return VolumesPending();
}

void ReportVolumesPresentAtStart(const char* pszLetters)
{
    for (const char* p = pszLetters; *p != '\0'; ++p) Arrive(*p, nullptr, false, VolumeEvent::PresentAtStart);
}

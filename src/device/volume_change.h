// Turns storage volumes coming and going into events 104, 105 and 106,
// however the system tells of them: a volume broadcast, which names the
// letters, or a volume interface, whose letter may be given a moment later.
// Used on the window's thread alone.
#pragma once

#include <windows.h>

// A DEV_BROADCAST_VOLUME's arrival or removal, for the drive letters of its
// unit mask ("EF"). Network drives are left out; a new medium is a new
// volume.
void OnVolumeBroadcast(const char* pszLetters, WORD wFlags, bool bArrived);

// The arrival or removal of a volume interface, by its path.
void OnVolumeInterfaceChange(const char* pszInterfacePath, bool bArrived);

// True while volume interfaces that arrived without a letter are looked at
// again, for up to ten seconds each.
bool VolumesPending();
// Looks for their letters again; true while some still wait.
bool RetryPendingVolumes();

// Records the volumes of the drive letters mounted when monitoring starts,
// each with event 106, so that their removal has its facts.
void ReportVolumesPresentAtStart(const char* pszLetters);

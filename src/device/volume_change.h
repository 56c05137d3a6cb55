// Turns storage volumes coming and going into events 104, 105 and 106,
// however the system tells of them: a volume broadcast, which names the
// letters, or a volume interface, whose letter may be given a moment later.
// The window's thread only hears of them and queues them; the volume thread
// reads each volume, keeps the table of those mounted and reports them, so
// that per drive a removal never comes before its volume's arrival.
#pragma once

#include <windows.h>

#include "device/volume_queue.h"

// On the window's thread: a DEV_BROADCAST_VOLUME's arrival or removal, for
// the drive letters of its unit mask ("EF"). Network drives are left out; a
// new medium is a new volume.
void OnVolumeBroadcast(const char* pszLetters, WORD wFlags, bool bArrived);

// On the window's thread: the arrival or removal of a volume interface, by
// its path.
void OnVolumeInterfaceChange(const char* pszInterfacePath, bool bArrived);

// Once monitoring has started: starts the volume thread, which first records
// the volumes of the drive letters mounted now, each with event 106, so that
// their removal has its facts.
void StartVolumeWork(const char* pszLettersPresent);

// At the end of the run, before its last event: what waits gets up to
// WINDOW_CLOSE_MS to be reported. Changes a medium keeps from that are put on
// record (event 122), and the volume thread reports nothing any more.
void EndVolumeWork();

// One change as the volume thread handles it: reads the volume where it
// came, records or frees its letter, and reports it.
void HandleVolumeChange(const VolumeRequest& request);

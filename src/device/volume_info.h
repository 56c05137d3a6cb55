// What a mounted volume is, read from the volume itself, and the USB device
// that holds it, found through its disk and the device tree.
#pragma once

#include <windows.h>

#include "device/device_tree.h"
#include "device/volume_table.h"

// The volume interface class, which a service in session 0 hears volumes
// come and go by; the window registers for it beside the USB devices.
extern const GUID kGuidDevinterfaceVolume;

// Reads the volume of the drive cLetter ('E'): its label, file system,
// serial number, capacity and GUID path, and the USB device that holds it.
// True for a volume that is reported: one on a removable drive, or on a
// fixed or optical one that leads to a USB device (a USB DVD writer, or a
// stick that poses as a CD-ROM). False for anything else (a network drive,
// the machine's own disks and optical drives), and for a volume that cannot
// be read (a drive with no medium, access denied, a drive gone again), which
// is traced.
bool ReadVolumeFacts(char cLetter, VolumeFacts& facts);

// The letter of the volume whose interface path pszInterfacePath is
// ("\\?\STORAGE#Volume#...#{53f5630d-...}"), or 0 while it has none: a
// letter may be given a moment after the interface arrives.
char LetterOfVolumeInterface(const char* pszInterfacePath);

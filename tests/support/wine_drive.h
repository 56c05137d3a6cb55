// Drives that Wine's mount manager serves from a folder of the prefix, and
// the volume broadcasts Windows sends for them: a USB stick's volume, as far
// as Wine can play one (Wine-only: its mount manager's own control code).
#pragma once

#include <windows.h>

#include <string>

// Makes cLetter a drive of uType (DRIVE_REMOVABLE or DRIVE_FIXED) backed by
// the folder C:\_drive_<letter>, whose label and serial number (eight hex
// digits) Wine reads when the drive is defined. No broadcast.
bool DefineDrive(char cLetter, UINT uType, const std::string& label, const std::string& serialHex);
// Removes the drive again.
bool RemoveDrive(char cLetter);

// Sends DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE with a
// DEV_BROADCAST_VOLUME for cLetter to every top-level window of every
// process, as Windows does.
bool BroadcastVolume(WPARAM code, char cLetter, WORD wFlags);

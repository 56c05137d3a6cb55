// What one run of the program leaves for the next, under the program's own
// key HKLM\SOFTWARE\Plugtrail: the count of device log lines that a run had
// to give up, so that the next run puts it into the device log. The key is
// the same for the service and for a debug run; only SYSTEM and
// Administrators may write it, and uninstalling removes it.
#pragma once

#include <windows.h>

constexpr char RUN_STATE_KEY[] = "SOFTWARE\\Plugtrail";

// Opens the key, creating it protected where it is missing. Until then, and
// when it cannot be opened, the state reads as empty and nothing is saved.
// Call once at start, before other threads use it.
void OpenRunState();

// Device log lines that an earlier run could not write, whose count is
// already reported; 0 when none.
DWORD LoadLostLines();
void SaveLostLines(DWORD dwCount);

// Removes the key with all it holds; a missing key is no failure.
void RemoveRunState();

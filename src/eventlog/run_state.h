// What one run of the program leaves for the next, under the program's own
// key HKLM\SOFTWARE\Plugtrail: which run it was, the sequence number of the
// last event it reported, whether it ended through a stop, a shutdown or its
// window's close, and how many device log lines it had to give up. The key
// serves the service and a debug run alike; only SYSTEM and Administrators
// may write it, and uninstalling removes it. The run is its one writer.
#pragma once

#include <windows.h>

#include "eventlog/event_text.h"

constexpr char RUN_STATE_KEY[] = "SOFTWARE\\Plugtrail";

// The key's protection: owner Administrators, full control for SYSTEM and
// Administrators, read for Users, nothing inherited (under HKLM\SOFTWARE,
// Power Users may write on XP). Built once; null when it cannot be built,
// and the key then keeps the security it has.
SECURITY_ATTRIBUTES* RunStateSecurity();

// How a step on the run state went: ERROR_SUCCESS, or the call that failed,
// the value it was for (null for the key itself) and the system's error.
struct RunStateResult {
    LONG lError;
    const char* pszCall;
    const char* pszValue;
};

// Opens HKLM\pszKey for reading and writing values, creating it where it
// is missing (*pbCreated says so; may be null), and gives it the protection
// of the run state, whoever made it. Closed by the caller.
RunStateResult OpenProtectedKey(const char* pszKey, HKEY* phKey, bool* pbCreated);

// Opens the key, creating it where it is missing, and gives it its
// protection, whoever made it: a key that anyone else could write would let
// them decide what the next run reports. Until it is open, and when it
// cannot be opened, the state reads as empty and nothing is saved. Call at
// start, before other threads use it.
RunStateResult OpenRunState();

struct PreviousRun {
    char szRun[RUN_ID_SIZE];  // empty when no run was recorded
    DWORD dwLastSequence;
    bool bEndedCleanly;
};
PreviousRun LoadPreviousRun();

// A new run: its identity, no event yet, not ended; flushed to disk, since
// what a power cut leaves of it is what the next run reads.
RunStateResult SaveRunStart(const char* pszRun);
// One small write, made with every event, and not flushed: losing the last
// one costs only that number.
RunStateResult SaveLastSequence(DWORD dwSequence);
// Flushed, as the start is.
RunStateResult SaveCleanEnd();

// Device log lines that an earlier run could not write, whose count is
// already reported; 0 when none.
DWORD LoadLostLines();
RunStateResult SaveLostLines(DWORD dwCount);

// Removes the key with all it holds, its subkeys included (RegDeleteKeyA
// deletes none, and RegDeleteTreeA came with Vista): ERROR_SUCCESS, also for
// a key that is not there, or the system's error.
LONG RemoveRunState();

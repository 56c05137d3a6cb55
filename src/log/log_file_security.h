// The protection of the log files the program creates: what it writes for
// auditors must not be rewritten by the users it records.
#pragma once

#include <windows.h>

// Builds, once, the protection of new log files: owner Administrators, full
// control for SYSTEM and Administrators, read for Event Log Readers, nothing
// inherited from the folder. Call before other threads start. ERROR_SUCCESS,
// or the system's error, in which case new files get default security.
DWORD InitLogFileSecurity();
// The attributes new log files get; null until built (default security).
SECURITY_ATTRIBUTES* LogFileSecurity();

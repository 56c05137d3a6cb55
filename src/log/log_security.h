// The protection of what the program keeps for auditors: the log files it
// creates, and the key that holds what one run leaves for the next.
#pragma once

#include <windows.h>

// Builds, once, the protection of new log files (owner Administrators, full
// control for SYSTEM and Administrators, read for Event Log Readers, nothing
// inherited from the folder) and of the program's key (the same owner and
// writers, read for Users). Call before other threads start. What cannot be
// built is created with default security.
void InitLogSecurity();
// The attributes new log files get; null until built (default security).
SECURITY_ATTRIBUTES* LogFileSecurity();
// The attributes the program's key gets when it is created; null until built.
SECURITY_ATTRIBUTES* RunStateSecurity();

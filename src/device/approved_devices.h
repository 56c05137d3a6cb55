// The approved-device list in force on this machine, as Group Policy sets
// it: the REG_MULTI_SZ value ApprovedDevices under
// HKLM\SOFTWARE\Policies\Plugtrail, which only SYSTEM and Administrators may
// write. Where the value exists the list is in force, even empty; every USB
// device attached or present at start that no entry matches gets a warning
// (event 113). Used on the window's thread alone.
#pragma once

// At the start of monitoring, once the run's start is reported: reads the
// policy and, where the value exists, puts the list in force on record
// (event 114, and 122 for bad input). From then on the policy is watched.
void StartApprovedDevices();

// Before an arrival is reported: takes up a change of the policy since it
// was last read (the value appears, changes or goes), with its 114.
void RefreshApprovedDevices();

// True when no list is in force, or one of its entries matches.
bool IsApprovedDevice(const char* pszInstanceId);

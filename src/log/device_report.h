// What the device log has to tell the Application log, told there.
#pragma once

// Reports what the device log noted since it was last asked: an unwritable
// log (event 120), a loss line now in the file (event 102 with its count),
// and clears the saved loss of an earlier run once its line is written.
void ReportDeviceLogNotices();

// One place reports a device: the device log's line and the Application
// log's event, from the same fields, taken once.
#pragma once

#include "device/device_text.h"

class CDeviceInfoStore;

enum class DeviceEvent {
    Attached,        // a line and event 100
    Removed,         // a line and event 101
    PresentAtStart,  // event 103 only: the device log has no line for it
};

// Reports the device, then what the device log noted meanwhile.
void ReportDevice(DeviceEvent event, const DeviceText& text);

// Stores the devices present at start (as the seed does, without a line)
// and reports the start of monitoring: event 110 with the count of devices
// recorded, 112 if the run before ended without a stop, and one 103 for each
// device recorded.
void StartMonitoring(CDeviceInfoStore& store);

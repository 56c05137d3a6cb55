// One place reports a device: the device log's line and the Application
// log's event, from the same fields, taken once.
#pragma once

#include "device/device_fields.h"
#include "device/keyboard.h"
#include "device/volume_table.h"
#include "eventlog/event_table.h"

class CDeviceInfoStore;

// Each kind of device report is the event it reports.
enum class DeviceEvent : unsigned long {
    Attached = EVENT_DEVICE_ATTACHED,       // a line and event 100
    Removed = EVENT_DEVICE_REMOVED,         // a line and event 101
    PresentAtStart = EVENT_DEVICE_PRESENT,  // event 103 only: the device log has no line for it
};

// A device's eight strings, as its events carry them first: its fields, and
// the vendor, product and serial its instance ID gives.
constexpr size_t DEVICE_STRING_VENDOR_ID = 5;
constexpr size_t DEVICE_STRING_PRODUCT_ID = 6;
class CDeviceStrings {
public:
    explicit CDeviceStrings(const DeviceFields& fields);
    CDeviceStrings(const CDeviceStrings&) = delete;
    CDeviceStrings& operator=(const CDeviceStrings&) = delete;
    const char* const (&Strings() const)[DEVICE_EVENT_STRINGS] { return m_apszStrings; }

private:
    UsbIdentity m_identity;
    const char* m_apszStrings[DEVICE_EVENT_STRINGS];
};

// Reports the device: its event, event 108 right after an attachment or a
// start that finds it new to the machine, then its line, whose trouble the
// device log reports behind it.
// True when it reported event 108.
bool ReportDevice(DeviceEvent event, const DeviceFields& fields);

// Reports a keyboard's arrival (event 109) with the strings of the USB
// device it belongs to (usb; with bHasUsbDevice false, only the vendor and
// product IDs of the keyboard's own ID) and whether it is new to this
// machine, which makes it a warning. No device log line: its USB device has
// its own.
void ReportKeyboard(const KeyboardFacts& keyboard, const DeviceFields& usb, bool bHasUsbDevice, bool bNew);

enum class VolumeEvent : unsigned long {
    Mounted = EVENT_VOLUME_MOUNTED,         // event 104
    Removed = EVENT_VOLUME_REMOVED,         // event 105, with what was recorded when it was mounted
    PresentAtStart = EVENT_VOLUME_PRESENT,  // event 106
};

// Reports a USB storage volume, with the identity of the USB device that
// holds it. The device log gets no line for volumes.
void ReportVolume(VolumeEvent event, const VolumeFacts& facts);

// Stores the devices present at start (as the seed does, without a line)
// and reports the start of monitoring: event 110 with the count of devices
// recorded, 112 if the run before ended without a stop, and one 103 for each
// device recorded, from its record.
void StartMonitoring(CDeviceInfoStore& store);

// On the run that made the record of known devices: records every USB device
// that Windows knew before, present or not, and every keyboard present, and
// reports event 107 for each USB device not present at start, in the order
// SetupDi lists them.
void ReportDevicesKnownBefore(const CDeviceInfoStore& store);

// What identifies one device among many of the same make: its instance ID
// (enumerator\device ID\instance), and the vendor ID, product ID and serial
// number inside it. Text work only, no platform calls.
#pragma once

#include <cstddef>

constexpr size_t DEVICE_ID_SIZE = 200;  // MAX_DEVICE_ID_LEN, terminator included
constexpr size_t USB_ID_HEX_SIZE = 5;   // four hex digits and the terminator

// What a device says of itself through SPDRP_CAPABILITIES (CM_DEVCAP_* bits),
// where they could be read. Zero-initialised: not known.
struct PnpCapabilities {
    bool bKnown;
    unsigned long ulFlags;
};
// CM_DEVCAP_UNIQUEID: the device's own ID, its serial number, is unique, and
// Windows takes it as the last part of the instance ID.
constexpr unsigned long CAPABILITY_UNIQUE_ID = 0x00000010;
constexpr PnpCapabilities CAPABILITIES_UNKNOWN = {false, 0};

// True for the last part of an instance ID that Windows made up itself for a
// device that reports no serial number, such as "5&1A2B3C4D&0&1". Such a
// device gets a new instance ID on every port. The device's capabilities
// tell: Windows makes the part up unless the device has CAPABILITY_UNIQUE_ID.
// Only where they are not known is the form taken instead: a second
// character '&' (a serial may hold '&' anywhere).
bool IsMadeUpSerial(const char* pszInstancePart, const PnpCapabilities& capabilities);

// The parts of an instance ID such as "USB\VID_0A0B&PID_1234\SN0001":
// vendor "0A0B" and product "1234" (upper-case hex; empty unless the device
// ID holds VID_/PID_ with exactly four hex digits) and serial "SN0001" (the
// last part, empty when Windows made it up, as IsMadeUpSerial tells from the
// device's capabilities).
struct UsbIdentity {
    char szVendorId[USB_ID_HEX_SIZE];
    char szProductId[USB_ID_HEX_SIZE];
    char szSerial[DEVICE_ID_SIZE];
};
void ParseUsbIdentity(const char* pszInstanceId, const PnpCapabilities& capabilities, UsbIdentity& identity);

// The instance ID that an interface path names: "\\?\USB#VID_0A0B&PID_1234#
// SN0001#{guid}" gives "USB\VID_0A0B&PID_1234\SN0001". Empty for a path of
// another form, or one too long to name a device.
void InstanceIdFromInterfacePath(const char* pszPath, char (&szInstanceId)[DEVICE_ID_SIZE]);

// True for the ID of a USB device itself, as the walk up from a disk looks
// for it: "USB\VID_0781&PID_5567\4C530001", not one of its interfaces
// ("...&MI_00...") nor a node of another bus.
bool IsUsbDeviceId(const char* pszDeviceId);

// True for a USB device that Windows' record of devices lists as a device of
// its own: a USB device itself that is not a root hub ("USB\ROOT_HUB20\...").
bool IsRecordedUsbDevice(const char* pszInstanceId);

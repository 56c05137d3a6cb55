#include "device/keyboard_change.h"

#include "device/device_change.h"
#include "device/device_info.h"
#include "device/device_report.h"
#include "eventlog/known_devices.h"
#include "log/trace.h"
#include "util/text.h"

namespace {

// The store's record of the keyboard's USB device: the one the device tree
// leads to, else the one attached device of the vendor and product that the
// keyboard's own ID names (Windows lists no tree above a device everywhere,
// and a HID keyboard's ID carries its USB device's IDs). -1 for none.
int UsbDeviceOf(const KeyboardFacts& keyboard)
{
    if (pDeviceStore == nullptr) return -1;
    if (keyboard.szUsbInstanceId[0] != '\0') return pDeviceStore->FindInstanceId(keyboard.szUsbInstanceId);
    UsbIdentity own;
    ParseUsbIdentity(keyboard.szInstanceId, CAPABILITIES_UNKNOWN, own);
    return pDeviceStore->FindOnlyByUsbIds(own.szVendorId, own.szProductId);
}

}  // namespace

void OnKeyboardArrival(const char* pszInterfacePath)
{
    KeyboardFacts keyboard;
    if (!GetKeyboardInfo(pszInterfacePath, keyboard)) Trace(1, "keyboard %s: not present", pszInterfacePath);
    DeviceFields usb = {};
    bool bUsbFirstSeen = false;
    const int index = UsbDeviceOf(keyboard);
    if (index != -1) {
        pDeviceStore->FieldsOf(index, usb);
        bUsbFirstSeen = pDeviceStore->Record(index).bFirstSeen;
    } else {
        // A USB device the tree found but the store does not hold is named
        // by its ID alone.
        CopyText(usb.szInstanceId, keyboard.szUsbInstanceId);
    }
    const bool bHasUsbDevice = usb.szInstanceId[0] != '\0';
    // Without a USB device the keyboard's own ID is what the machine knows.
    const bool bKnown = bHasUsbDevice || keyboard.szInstanceId[0] == '\0' || !KnownDevicesOpen() ||
                        IsKnownDevice(keyboard.szInstanceId);
    const bool bNew = IsNewKeyboard(bHasUsbDevice, bUsbFirstSeen, bKnown);
    ReportKeyboard(keyboard, usb, bHasUsbDevice, bNew);
    if (bNew && !bHasUsbDevice) RecordKnownDeviceNow(keyboard.szInstanceId);
}

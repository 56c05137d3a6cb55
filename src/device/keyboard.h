// A keyboard that arrives, and whether it is new to this machine: a stick
// that types enumerates as an ordinary keyboard, and the one question an
// investigator asks is whether a keyboard came that the machine never saw.
// No platform calls.
#pragma once

#include "device/device_fields.h"

// A keyboard as the arrival of its interface tells of it.
struct KeyboardFacts {
    char szInstanceId[DEVICE_ID_SIZE];  // its own, "HID\VID_046D&PID_C31C&MI_00\7&..."
    char szDescription[DEVINFO_TEXT_SIZE];
    char szUsbInstanceId[DEVICE_ID_SIZE];  // the USB device the device tree leads to; empty where none
};

// Whether the keyboard is new to this machine. With a USB device of its own,
// it is new when that device was first seen with this very attachment (its
// event 108 came with it); without one, when its own instance ID is not
// known yet. Where the machine's record cannot tell, it is not.
bool IsNewKeyboard(bool bHasUsbDevice, bool bUsbDeviceFirstSeen, bool bKeyboardKnown);

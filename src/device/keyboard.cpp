#include "device/keyboard.h"

bool IsNewKeyboard(bool bHasUsbDevice, bool bUsbDeviceFirstSeen, bool bKeyboardKnown)
{
    return bHasUsbDevice ? bUsbDeviceFirstSeen : !bKeyboardKnown;
}

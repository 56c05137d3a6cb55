#include "device/device_tree.h"

#include "log/trace.h"
#include "util/text.h"

GetParentFunction pfnCM_Get_Parent = CM_Get_Parent;
GetDeviceIdFunction pfnCM_Get_Device_IDA = CM_Get_Device_IDA;

namespace {

// The walk up to the USB device: a disk's parent is the USB device, or a USB
// interface, a UASP or a card reader's node on the way; a keyboard's is a
// HID collection under a composite device's interface.
constexpr int USB_ANCESTOR_LEVELS = 4;

PnpCapabilities ReadCapabilities(DEVINST devInst)
{
    ULONG ulFlags = 0;
    ULONG cb = sizeof ulFlags;
    ULONG ulType = 0;
    const CONFIGRET cr = CM_Get_DevNode_Registry_PropertyA(devInst, CM_DRP_CAPABILITIES, &ulType, &ulFlags, &cb, 0);
    if (cr != CR_SUCCESS || ulType != REG_DWORD) {
        Trace(1, "CM_Get_DevNode_Registry_PropertyA(%lu, CM_DRP_CAPABILITIES) failed, CONFIGRET %lu", devInst, cr);
        return CAPABILITIES_UNKNOWN;
    }
    return {true, ulFlags};
}

}  // namespace

bool FindUsbAncestor(DEVINST devInst, char (&szInstanceId)[DEVICE_ID_SIZE], PnpCapabilities* pCapabilities)
{
    szInstanceId[0] = '\0';
    if (pCapabilities != nullptr) *pCapabilities = CAPABILITIES_UNKNOWN;
    char szDeviceId[DEVICE_ID_SIZE];
    for (int level = 0; level < USB_ANCESTOR_LEVELS; ++level) {
        DEVINST parent = 0;
        const CONFIGRET crParent = pfnCM_Get_Parent(&parent, devInst, 0);
        if (crParent != CR_SUCCESS) {
            Trace(1, "CM_Get_Parent(%lu) failed, CONFIGRET %lu", devInst, crParent);
            return false;
        }
        const CONFIGRET crId = pfnCM_Get_Device_IDA(parent, szDeviceId, DEVICE_ID_SIZE, 0);
        if (crId != CR_SUCCESS) {
            Trace(1, "CM_Get_Device_IDA(%lu) failed, CONFIGRET %lu", parent, crId);
            return false;
        }
        szDeviceId[DEVICE_ID_SIZE - 1] = '\0';
        if (IsUsbDeviceId(szDeviceId)) {
            CopyText(szInstanceId, szDeviceId);
            if (pCapabilities != nullptr) *pCapabilities = ReadCapabilities(parent);
            return true;
        }
        devInst = parent;
    }
    return false;
}

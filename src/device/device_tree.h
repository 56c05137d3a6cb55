// The walk up the device tree from a device node (a disk, an optical drive,
// a keyboard) to the USB device it belongs to.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>

#include "device/device_identity.h"

// From devInst up, at most four levels, to the first USB device itself (not
// one of its interfaces): its instance ID into szInstanceId and, where
// pCapabilities is given, what it says of itself (CM_DRP_CAPABILITIES; not
// known where it cannot be read). False, with szInstanceId empty, when no
// such node is on the way.
bool FindUsbAncestor(DEVINST devInst, char (&szInstanceId)[DEVICE_ID_SIZE], PnpCapabilities* pCapabilities = nullptr);

// The device tree's two calls the walk makes. Replaceable by tests: Wine's
// device tree has no nodes above a device, and its CM_Get_Parent is a stub.
using GetParentFunction = CONFIGRET(WINAPI*)(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags);
using GetDeviceIdFunction = CONFIGRET(WINAPI*)(DEVINST dnDevInst, PSTR pszBuffer, ULONG cchBuffer, ULONG ulFlags);
extern GetParentFunction pfnCM_Get_Parent;
extern GetDeviceIdFunction pfnCM_Get_Device_IDA;

// One device's fields, from its lookup to its line, its events and its
// record in the store: what the device log and the Application log say
// about it. No platform calls.
#pragma once

#include <cstddef>
#include <cstring>

#include "device/device_identity.h"

constexpr size_t DEVINFO_TEXT_SIZE = 260;  // service, friendly name, description, manufacturer
constexpr size_t DEVINFO_TYPENAME_SIZE = 32;

// Empty until read; a property the device does not have stays empty.
struct DeviceFields {
    char szService[DEVINFO_TEXT_SIZE];  // decides only whether the device is logged at all
    char szTypeName[DEVINFO_TYPENAME_SIZE];
    char szFriendlyName[DEVINFO_TEXT_SIZE];
    char szDeviceDesc[DEVINFO_TEXT_SIZE];
    char szMfg[DEVINFO_TEXT_SIZE];
    char szInstanceId[DEVICE_ID_SIZE];
    PnpCapabilities capabilities;  // whether Windows made the serial number up
};

// A storage service of this exact name is kept out of the device log and its
// events; its devices are still stored, so their removal is recognised.
constexpr char SILENT_SERVICE[] = "xUSBSTOR";

inline bool IsSilentService(const char* pszService)
{
    return std::strcmp(pszService, SILENT_SERVICE) == 0;
}

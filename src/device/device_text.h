// What the device log and the Application log say about one device: the
// fields of its line and its identity, wherever they are kept.
#pragma once

#include <cstring>

struct DeviceText {
    const char* pszService;  // decides only whether the device is logged at all
    const char* pszTypeName;
    const char* pszFriendlyName;
    const char* pszDeviceDesc;
    const char* pszMfg;
    const char* pszInstanceId;
};

// A storage service of this exact name is kept out of the device log and its
// events; its devices are still stored, so their removal is recognised.
constexpr char SILENT_SERVICE[] = "xUSBSTOR";

inline bool IsSilentService(const char* pszService)
{
    return std::strcmp(pszService, SILENT_SERVICE) == 0;
}

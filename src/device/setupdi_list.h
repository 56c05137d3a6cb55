// What every walk over the device-installation database needs: the list's
// owner and an interface's detail, read into a buffer of fixed size.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <cstring>

#include "util/scoped_handle.h"
#include "util/text.h"

struct DevInfoListTraits {
    using Handle = HDEVINFO;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDevInfoList = ScopedHandle<DevInfoListTraits>;

constexpr size_t DETAIL_BUFFER_SIZE = 1024;

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[DETAIL_BUFFER_SIZE];
};

// Reads an interface's detail, its path lower-cased, and fills devInfoData
// with its device. False for an interface without a readable detail.
inline bool ReadInterfaceDetail(HDEVINFO hDevInfo, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                DetailBuffer& detailBuffer, SP_DEVINFO_DATA& devInfoData)
{
    DWORD cbRequired = 0;
    SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, nullptr, 0, &cbRequired, nullptr);
    if (cbRequired == 0) return false;
    // A path that does not fit the detail buffer cannot be the one a lookup
    // looks for: ours came in a broadcast of at most that size.
    if (cbRequired > sizeof detailBuffer) return false;

    detailBuffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    std::memset(&devInfoData, 0, sizeof devInfoData);
    devInfoData.cbSize = sizeof devInfoData;
    if (!SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, &detailBuffer.detail, sizeof detailBuffer,
                                          nullptr, &devInfoData))
        return false;
    detailBuffer.bytes[DETAIL_BUFFER_SIZE - 1] = '\0';
    LowerAsciiInPlace(detailBuffer.detail.DevicePath);
    return true;
}

#include "device/device_info.h"

#include <setupapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/device_store.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

const GUID kGuidDevinterfaceUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

const ServiceTypeRow ServiceTypeTable[] = {
    {"BTHUSB", "Bluetooth"},
    {"USBHUB", "USB hub"},
    {"USBSER", "USB serial"},
    {"USBCCGP", "USB composite"},
    {"USBSTOR", "USB storage"},
    {"USBCCID", "USB smartcard"},
    {"", ""},
};

namespace {

constexpr size_t DETAIL_BUFFER_SIZE = 1024;
constexpr size_t PROPERTY_BUFFER_SIZE = 2560;
constexpr size_t REPORT_LINE_SIZE = 128;

struct DevInfoListTraits {
    using Handle = HDEVINFO;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDevInfoList = ScopedHandle<DevInfoListTraits>;

// One line of the enumeration report on standard output, formatted by the
// same routine as every other text of the program.
void Report(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);
void Report(const char* pszFormat, ...)
{
    char szLine[REPORT_LINE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szLine, pszFormat, args);
    va_end(args);
    std::fputs(szLine, stdout);
}

union DetailBuffer {
    SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
    char bytes[DETAIL_BUFFER_SIZE];
};

// Reads an interface's detail, its path lower-cased, and fills devInfoData
// with its device. False for an interface without a readable detail.
bool ReadInterfaceDetail(HDEVINFO hDevInfo, SP_DEVICE_INTERFACE_DATA& interfaceData, DetailBuffer& detailBuffer,
                         SP_DEVINFO_DATA& devInfoData)
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

// Walks the present interfaces of the class, each with its detail read (path
// lower-cased) and its device in devInfoData, until visit answers true; an
// interface without a readable detail is skipped. With bReport, writes the
// enumeration report for every interface looked at. True when visit stopped it.
template <typename Visit>
bool ForEachPresentInterface(HDEVINFO hDevInfo, const GUID* pClassGuid, bool bReport, Visit visit)
{
    SP_DEVICE_INTERFACE_DATA interfaceData;
    interfaceData.cbSize = sizeof interfaceData;
    DetailBuffer detailBuffer;
    SP_DEVINFO_DATA devInfoData;

    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(hDevInfo, nullptr, pClassGuid, index, &interfaceData); ++index) {
        if (bReport) {
            Report("---------------------------------------------------------------------------------\n");
            Report("Device Number %i  hDevInfo=%u\n", static_cast<int>(index),
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(hDevInfo)));
        }
        if (!ReadInterfaceDetail(hDevInfo, interfaceData, detailBuffer, devInfoData)) continue;
        if (visit(static_cast<const char*>(detailBuffer.detail.DevicePath), devInfoData)) return true;
    }
    return false;
}

// Copies a REG_SZ property into out; anything else leaves out as it was.
template <size_t N>
void ReadTextProperty(HDEVINFO hDevInfo, SP_DEVINFO_DATA& devInfoData, DWORD dwProperty, char (&out)[N])
{
    char buffer[PROPERTY_BUFFER_SIZE];
    DWORD dwType = 0;
    DWORD cbValue = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(hDevInfo, &devInfoData, dwProperty, &dwType,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer, &cbValue))
        return;
    if (dwType != REG_SZ) return;
    // A stored value need not carry its terminator: it ends where the value
    // ends, and no byte behind it reaches a field.
    buffer[cbValue < PROPERTY_BUFFER_SIZE ? cbValue : PROPERTY_BUFFER_SIZE - 1] = '\0';
    CopyText(out, buffer);
}

// The five outputs as an arrival's record holds them, from the device's
// properties; the type name from ServiceTypeTable, else the service name.
void ReadDeviceFields(HDEVINFO hDevInfo, SP_DEVINFO_DATA& devInfoData, char (&szService)[DEVINFO_TEXT_SIZE],
                      char (&szTypeName)[DEVINFO_TYPENAME_SIZE], char (&szFriendlyName)[DEVINFO_TEXT_SIZE],
                      char (&szDeviceDesc)[DEVINFO_TEXT_SIZE], char (&szMfg)[DEVINFO_TEXT_SIZE])
{
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_FRIENDLYNAME, szFriendlyName);
    if (szFriendlyName[0] == '\0')
        ReadTextProperty(hDevInfo, devInfoData, SPDRP_LOCATION_INFORMATION, szFriendlyName);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_DEVICEDESC, szDeviceDesc);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_SERVICE, szService);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_MFG, szMfg);

    CopyText(szTypeName, szService);
    for (const ServiceTypeRow* row = ServiceTypeTable; row->szService[0] != '\0'; ++row) {
        Trace(1, "################# service=%s", szService);
        if (std::strcmp(szService, row->szService) == 0) {
            CopyText(szTypeName, row->szTypeName);
            break;
        }
    }
}

// The device's instance ID as the system spells it; anything short of the
// whole ID leaves out as it was.
void ReadInstanceId(HDEVINFO hDevInfo, SP_DEVINFO_DATA& devInfoData, char (&out)[DEVICE_ID_SIZE])
{
    char buffer[DEVICE_ID_SIZE];
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, &devInfoData, buffer, sizeof buffer, nullptr)) {
        const DWORD dwError = GetLastError();
        Trace(1, "SetupDiGetDeviceInstanceIdA failed, error %lu", dwError);
        return;
    }
    buffer[DEVICE_ID_SIZE - 1] = '\0';
    CopyText(out, buffer);
}

// One device's fields, empty until read.
struct DeviceFields {
    char szService[DEVINFO_TEXT_SIZE] = "";
    char szTypeName[DEVINFO_TYPENAME_SIZE] = "";
    char szFriendlyName[DEVINFO_TEXT_SIZE] = "";
    char szDeviceDesc[DEVINFO_TEXT_SIZE] = "";
    char szMfg[DEVINFO_TEXT_SIZE] = "";
    char szInstanceId[DEVICE_ID_SIZE] = "";
};

}  // namespace

bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath,
                   char (&szService)[DEVINFO_TEXT_SIZE],
                   char (&szTypeName)[DEVINFO_TYPENAME_SIZE],
                   char (&szFriendlyName)[DEVINFO_TEXT_SIZE],
                   char (&szDeviceDesc)[DEVINFO_TEXT_SIZE],
                   char (&szMfg)[DEVINFO_TEXT_SIZE])
{
    char szInstanceId[DEVICE_ID_SIZE] = "";
    return GetDeviceInfo(pClassGuid, pszDevicePath, szService, szTypeName, szFriendlyName, szDeviceDesc, szMfg,
                         szInstanceId);
}

bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath,
                   char (&szService)[DEVINFO_TEXT_SIZE],
                   char (&szTypeName)[DEVINFO_TYPENAME_SIZE],
                   char (&szFriendlyName)[DEVINFO_TEXT_SIZE],
                   char (&szDeviceDesc)[DEVINFO_TEXT_SIZE],
                   char (&szMfg)[DEVINFO_TEXT_SIZE],
                   char (&szInstanceId)[DEVICE_ID_SIZE])
{
    ScopedDevInfoList devInfo(
        SetupDiGetClassDevsA(pClassGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devInfo) {
        const DWORD dwError = GetLastError();
        Report("SetupDiClassDevs() failed. GetLastError() returns: 0x%x\n", static_cast<unsigned>(dwError));
        return true;
    }

    // The caller's path is compared lower-cased, as the details are.
    SP_DEVINFO_DATA devInfoData;
    auto isCallersPath = [&](const char* pszPath, const SP_DEVINFO_DATA& found) {
        LowerAsciiInPlace(pszDevicePath);
        if (std::strcmp(pszPath, pszDevicePath) != 0) return false;
        devInfoData = found;
        return true;
    };
    const bool bFound = ForEachPresentInterface(devInfo.get(), pClassGuid, true, isCallersPath);
    if (!bFound) return false;

    ReadDeviceFields(devInfo.get(), devInfoData, szService, szTypeName, szFriendlyName, szDeviceDesc, szMfg);
    ReadInstanceId(devInfo.get(), devInfoData, szInstanceId);
    return true;
}

void SeedDeviceStore(CDeviceInfoStore& store, SeededDeviceVisitor pfnRecorded, void* pContext)
{
    ScopedDevInfoList devInfo(
        SetupDiGetClassDevsA(&kGuidDevinterfaceUsbDevice, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devInfo) {
        const DWORD dwError = GetLastError();
        Trace(1, "SeedDeviceStore: SetupDiGetClassDevsA failed, error %lu", dwError);
        return;
    }

    ForEachPresentInterface(devInfo.get(), &kGuidDevinterfaceUsbDevice, false,
                            [&](const char* pszPath, SP_DEVINFO_DATA& devInfoData) {
                                DeviceFields fields;
                                ReadDeviceFields(devInfo.get(), devInfoData, fields.szService, fields.szTypeName,
                                                 fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg);
                                ReadInstanceId(devInfo.get(), devInfoData, fields.szInstanceId);
                                // A full store leaves the rest unknown, as it does for arrivals.
                                if (!store.SeedVolume(pszPath, fields.szService, fields.szTypeName,
                                                      fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg,
                                                      fields.szInstanceId))
                                    return true;
                                if (pfnRecorded != nullptr)
                                    pfnRecorded(pContext, {fields.szService, fields.szTypeName, fields.szFriendlyName,
                                                           fields.szDeviceDesc, fields.szMfg, fields.szInstanceId});
                                return false;
                            });
}

#include "device/device_info.h"

#include <setupapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "device/device_store.h"
#include "device/device_tree.h"
#include "device/setupdi_list.h"
#include "log/trace.h"
#include "util/text.h"

const GUID kGuidDevinterfaceUsbDevice = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kGuidDevinterfaceKeyboard = {
    0x884B96C3, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};

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

constexpr size_t PROPERTY_BUFFER_SIZE = 2560;
constexpr size_t REPORT_LINE_SIZE = 128;

// One line of the enumeration report on standard output, formatted by the
// same routine as every other text of the program.
void PrintEnumerationLine(const char* pszFormat, ...) PLUGTRAIL_PRINTF(1, 2);
void PrintEnumerationLine(const char* pszFormat, ...)
{
    char szLine[REPORT_LINE_SIZE];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szLine, pszFormat, args);
    va_end(args);
    std::fputs(szLine, stdout);
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
            PrintEnumerationLine("---------------------------------------------------------------------------------\n");
            PrintEnumerationLine("Device Number %i  hDevInfo=%u\n", static_cast<int>(index),
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

// The present interfaces of a class; a list that cannot be had is traced.
HDEVINFO PresentInterfaces(const GUID& classGuid, const char* pszClassName)
{
    HDEVINFO hDevInfo = SetupDiGetClassDevsA(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hDevInfo == INVALID_HANDLE_VALUE) {
        const DWORD dwError = GetLastError();
        TraceFailure("SetupDiGetClassDevsA", pszClassName, dwError);
    }
    return hDevInfo;
}

// The instance ID as the system spells it; anything short of the whole ID
// leaves szInstanceId as it was.
void ReadInstanceId(HDEVINFO hDevInfo, SP_DEVINFO_DATA& devInfoData, char (&szInstanceId)[DEVICE_ID_SIZE])
{
    char szRead[DEVICE_ID_SIZE];
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, &devInfoData, szRead, sizeof szRead, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("SetupDiGetDeviceInstanceIdA", szInstanceId, dwError);
        return;
    }
    szRead[DEVICE_ID_SIZE - 1] = '\0';
    CopyText(szInstanceId, szRead);
}

// The fields as an arrival's record holds them, from the device's
// properties; the type name from ServiceTypeTable, else the service name.
void ReadDeviceFields(HDEVINFO hDevInfo, SP_DEVINFO_DATA& devInfoData, DeviceFields& fields)
{
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_FRIENDLYNAME, fields.szFriendlyName);
    if (fields.szFriendlyName[0] == '\0')
        ReadTextProperty(hDevInfo, devInfoData, SPDRP_LOCATION_INFORMATION, fields.szFriendlyName);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_DEVICEDESC, fields.szDeviceDesc);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_SERVICE, fields.szService);
    ReadTextProperty(hDevInfo, devInfoData, SPDRP_MFG, fields.szMfg);

    DWORD dwType = 0;
    DWORD dwCapabilities = 0;
    fields.capabilities.bKnown =
        SetupDiGetDeviceRegistryPropertyA(hDevInfo, &devInfoData, SPDRP_CAPABILITIES, &dwType,
                                          reinterpret_cast<BYTE*>(&dwCapabilities), sizeof dwCapabilities, nullptr) &&
        dwType == REG_DWORD;
    fields.capabilities.ulFlags = fields.capabilities.bKnown ? dwCapabilities : 0;

    CopyText(fields.szTypeName, fields.szService);
    for (const ServiceTypeRow* row = ServiceTypeTable; row->szService[0] != '\0'; ++row) {
        Trace(1, "################# service=%s", fields.szService);
        if (std::strcmp(fields.szService, row->szService) == 0) {
            CopyText(fields.szTypeName, row->szTypeName);
            break;
        }
    }

    ReadInstanceId(hDevInfo, devInfoData, fields.szInstanceId);
}

}  // namespace

bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath,
                   char (&szService)[DEVINFO_TEXT_SIZE],
                   char (&szTypeName)[DEVINFO_TYPENAME_SIZE],
                   char (&szFriendlyName)[DEVINFO_TEXT_SIZE],
                   char (&szDeviceDesc)[DEVINFO_TEXT_SIZE],
                   char (&szMfg)[DEVINFO_TEXT_SIZE])
{
    // The caller has emptied its outputs, as the record starts out.
    DeviceFields fields = {};
    const bool bFound = GetDeviceInfo(pClassGuid, pszDevicePath, fields);
    CopyText(szService, fields.szService);
    CopyText(szTypeName, fields.szTypeName);
    CopyText(szFriendlyName, fields.szFriendlyName);
    CopyText(szDeviceDesc, fields.szDeviceDesc);
    CopyText(szMfg, fields.szMfg);
    return bFound;
}

bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath, DeviceFields& fields)
{
    ScopedDevInfoList devInfo(
        SetupDiGetClassDevsA(pClassGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!devInfo) {
        const DWORD dwError = GetLastError();
        PrintEnumerationLine("SetupDiClassDevs() failed. GetLastError() returns: 0x%x\n",
                             static_cast<unsigned>(dwError));
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
    if (!ForEachPresentInterface(devInfo.get(), pClassGuid, true, isCallersPath)) return false;
    ReadDeviceFields(devInfo.get(), devInfoData, fields);
    return true;
}

void SeedDeviceStore(CDeviceInfoStore& store)
{
    ScopedDevInfoList devInfo(PresentInterfaces(kGuidDevinterfaceUsbDevice, "GUID_DEVINTERFACE_USB_DEVICE"));
    if (!devInfo) return;

    ForEachPresentInterface(devInfo.get(), &kGuidDevinterfaceUsbDevice, false,
                            [&](const char* pszPath, SP_DEVINFO_DATA& devInfoData) {
                                DeviceFields fields = {};
                                ReadDeviceFields(devInfo.get(), devInfoData, fields);
                                // A full store leaves the rest unknown, as it does for arrivals.
                                return !store.SeedDevice(pszPath, fields);
                            });
}

namespace {

bool IsPresentUsbInterface(void* pDevInfo, const char* pszPath)
{
    return ForEachPresentInterface(static_cast<HDEVINFO>(pDevInfo), &kGuidDevinterfaceUsbDevice, false,
                                   [&](const char* pszPresent, const SP_DEVINFO_DATA& /*devInfoData*/) {
                                       return EqualsIgnoreAsciiCase(pszPresent, pszPath);
                                   });
}

}  // namespace

bool GetKeyboardInfo(const char* pszInterfacePath, KeyboardFacts& facts)
{
    facts = {};
    InstanceIdFromInterfacePath(pszInterfacePath, facts.szInstanceId);
    ScopedDevInfoList devInfo(PresentInterfaces(kGuidDevinterfaceKeyboard, "GUID_DEVINTERFACE_KEYBOARD"));
    if (!devInfo) return false;
    char szPath[DETAIL_BUFFER_SIZE];
    CopyText(szPath, pszInterfacePath);
    LowerAsciiInPlace(szPath);
    SP_DEVINFO_DATA devInfoData;
    auto isKeyboard = [&](const char* pszPath, const SP_DEVINFO_DATA& found) {
        if (std::strcmp(pszPath, szPath) != 0) return false;
        devInfoData = found;
        return true;
    };
    if (!ForEachPresentInterface(devInfo.get(), &kGuidDevinterfaceKeyboard, false, isKeyboard)) return false;
    ReadTextProperty(devInfo.get(), devInfoData, SPDRP_DEVICEDESC, facts.szDescription);
    ReadInstanceId(devInfo.get(), devInfoData, facts.szInstanceId);
    FindUsbAncestor(devInfoData.DevInst, facts.szUsbInstanceId);
    return true;
}

void ForEachPresentKeyboard(void (*pfnVisit)(void* pContext, const char* pszInstanceId), void* pContext)
{
    ScopedDevInfoList devInfo(PresentInterfaces(kGuidDevinterfaceKeyboard, "GUID_DEVINTERFACE_KEYBOARD"));
    if (!devInfo) return;
    ForEachPresentInterface(devInfo.get(), &kGuidDevinterfaceKeyboard, false,
                            [&](const char*, SP_DEVINFO_DATA& devInfoData) {
                                char szInstanceId[DEVICE_ID_SIZE] = "";
                                ReadInstanceId(devInfo.get(), devInfoData, szInstanceId);
                                if (szInstanceId[0] != '\0') pfnVisit(pContext, szInstanceId);
                                return false;
                            });
}

int ReleaseAbsentDevices(CDeviceInfoStore& store)
{
    ScopedDevInfoList devInfo(PresentInterfaces(kGuidDevinterfaceUsbDevice, "GUID_DEVINTERFACE_USB_DEVICE"));
    if (!devInfo) return 0;
    return store.ReleaseAbsent(IsPresentUsbInterface, devInfo.get());
}

namespace {

// Vista's device property key and its reader, which XP's setupapi.dll lacks:
// the reader is looked up by name, so that the program still loads there.
struct DevicePropertyKey {
    GUID fmtid;
    ULONG pid;
};
using GetDevicePropertyFunction = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DevicePropertyKey*, ULONG*, PBYTE,
                                                DWORD, PDWORD, DWORD);
constexpr ULONG FILETIME_PROPERTY_TYPE = 0x00000010;  // DEVPROP_TYPE_FILETIME
constexpr GUID kDeviceDatesFmtid = {0x83DA6326, 0x97A6, 0x4088, {0x94, 0x53, 0xA1, 0x92, 0x3F, 0x57, 0x3B, 0x29}};
constexpr ULONG FIRST_INSTALL_DATE_PID = 101;
constexpr ULONG LAST_ARRIVAL_DATE_PID = 102;
constexpr ULONG LAST_REMOVAL_DATE_PID = 103;

// A FILETIME property's ticks, or 0 where the device has none.
unsigned long long ReadDateProperty(GetDevicePropertyFunction pfnGetProperty, HDEVINFO hDevInfo,
                                    SP_DEVINFO_DATA& devInfoData, ULONG pid)
{
    if (pfnGetProperty == nullptr) return 0;
    const DevicePropertyKey key = {kDeviceDatesFmtid, pid};
    ULONG type = 0;
    FILETIME date = {};
    if (!pfnGetProperty(hDevInfo, &devInfoData, &key, &type, reinterpret_cast<PBYTE>(&date), sizeof date, nullptr,
                        0) ||
        type != FILETIME_PROPERTY_TYPE)
        return 0;
    return (static_cast<unsigned long long>(date.dwHighDateTime) << 32) | date.dwLowDateTime;
}

}  // namespace

void ForEachRecordedUsbDevice(RecordedDeviceVisitor pfnVisit, void* pContext)
{
    ScopedDevInfoList devInfo(SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_ALLCLASSES));
    if (!devInfo) {
        const DWORD dwError = GetLastError();
        TraceFailure("SetupDiGetClassDevsA", "USB", dwError);
        return;
    }
    const auto pfnGetProperty = reinterpret_cast<GetDevicePropertyFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("setupapi.dll"), "SetupDiGetDevicePropertyW")));
    SP_DEVINFO_DATA devInfoData;
    devInfoData.cbSize = sizeof devInfoData;
    RecordedDevice device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devInfo.get(), index, &devInfoData); ++index) {
        device.fields = {};
        ReadDeviceFields(devInfo.get(), devInfoData, device.fields);
        if (!IsRecordedUsbDevice(device.fields.szInstanceId)) continue;
        device.ullFirstInstall = ReadDateProperty(pfnGetProperty, devInfo.get(), devInfoData, FIRST_INSTALL_DATE_PID);
        device.ullLastArrival = ReadDateProperty(pfnGetProperty, devInfo.get(), devInfoData, LAST_ARRIVAL_DATE_PID);
        device.ullLastRemoval = ReadDateProperty(pfnGetProperty, devInfo.get(), devInfoData, LAST_REMOVAL_DATE_PID);
        pfnVisit(pContext, device);
    }
}

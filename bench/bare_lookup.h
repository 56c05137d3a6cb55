// The platform calls an arrival's device lookup makes, and nothing else: list
// the present interfaces of the class, enumerate them, read each detail until
// the path matches, read the five properties, destroy the list. Without a
// path they are the start-up seed's calls: the properties of every one. The
// floor window times each kind of call through Timer; the in-process
// comparisons pass NoTimer. The fixed-line append is the floor under every logged event.
// A keyboard's arrival has its own lookup's calls (BareKeyboardLookup).
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstring>

#include "floor_protocol.h"

struct NoTimer {
    explicit NoTimer(CallKind) {}
};

// Opens, appends one line to and closes the file, as the device log does.
template <typename Timer>
void AppendFixedLine(const char* pszPath, const char* pszLine)
{
    Timer t(kCallAppend);
    HANDLE h = CreateFileA(pszPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    SetFilePointer(h, 0, nullptr, FILE_END);
    DWORD dwWritten = 0;
    WriteFile(h, pszLine, static_cast<DWORD>(std::strlen(pszLine)), &dwWritten, nullptr);
    CloseHandle(h);
}

inline void LowerAscii(char* p)
{
    for (; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
}

template <typename Timer>
void ReadBareProperty(HDEVINFO h, SP_DEVINFO_DATA* pData, DWORD dwProperty, char (&out)[260])
{
    Timer t(kCallProperty);
    char buffer[2560];
    DWORD dwType = 0;
    if (SetupDiGetDeviceRegistryPropertyA(h, pData, dwProperty, &dwType, reinterpret_cast<BYTE*>(buffer),
                                          sizeof buffer, nullptr) &&
        dwType == REG_SZ)
        lstrcpynA(out, buffer, sizeof out);
}

template <typename Timer>
void ReadBareProperties(HDEVINFO h, SP_DEVINFO_DATA* pData)
{
    char szFriendly[260] = "", szDesc[260] = "", szService[260] = "", szMfg[260] = "";
    ReadBareProperty<Timer>(h, pData, SPDRP_FRIENDLYNAME, szFriendly);
    if (szFriendly[0] == '\0') ReadBareProperty<Timer>(h, pData, SPDRP_LOCATION_INFORMATION, szFriendly);
    ReadBareProperty<Timer>(h, pData, SPDRP_DEVICEDESC, szDesc);
    ReadBareProperty<Timer>(h, pData, SPDRP_SERVICE, szService);
    ReadBareProperty<Timer>(h, pData, SPDRP_MFG, szMfg);
}

// pszPath null: no match, the properties of every interface.
template <typename Timer>
void BareLookup(const GUID* pGuid, char* pszPath)
{
    HDEVINFO h;
    {
        Timer t(kCallClassDevs);
        h = SetupDiGetClassDevsA(pGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    }
    if (h == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[1024];
    } buffer;
    SP_DEVINFO_DATA data;
    bool bFound = false;
    for (DWORD i = 0; !bFound; ++i) {
        BOOL bOk;
        {
            Timer t(kCallEnum);
            bOk = SetupDiEnumDeviceInterfaces(h, nullptr, pGuid, i, &iface);
        }
        if (!bOk) break;
        DWORD cb = 0;
        {
            Timer t(kCallDetailSize);
            SetupDiGetDeviceInterfaceDetailA(h, &iface, nullptr, 0, &cb, nullptr);
        }
        if (cb == 0 || cb > sizeof buffer) continue;
        buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        {
            Timer t(kCallDetail);
            bOk = SetupDiGetDeviceInterfaceDetailA(h, &iface, &buffer.detail, sizeof buffer, nullptr, &data);
        }
        if (!bOk) continue;
        LowerAscii(buffer.detail.DevicePath);
        if (pszPath == nullptr) {
            ReadBareProperties<Timer>(h, &data);
            continue;
        }
        LowerAscii(pszPath);
        bFound = std::strcmp(buffer.detail.DevicePath, pszPath) == 0;
    }
    if (bFound) ReadBareProperties<Timer>(h, &data);
    Timer t(kCallDestroy);
    SetupDiDestroyDeviceInfoList(h);
}

// The calls a keyboard's arrival makes to find its device: list the present
// keyboard interfaces, read each detail until the path (lower-cased in place)
// matches, read its description and instance ID, walk up the device tree to
// the first USB device that is not an interface (at most four levels; under
// Wine the first CM_Get_Parent fails), destroy the list.
inline void BareKeyboardLookup(const GUID* pKeyboardGuid, char* pszPath)
{
    const HDEVINFO h = SetupDiGetClassDevsA(pKeyboardGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (h == INVALID_HANDLE_VALUE) return;
    LowerAscii(pszPath);
    SP_DEVICE_INTERFACE_DATA iface;
    iface.cbSize = sizeof iface;
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[1024];
    } buffer;
    SP_DEVINFO_DATA data;
    bool bFound = false;
    for (DWORD i = 0; !bFound && SetupDiEnumDeviceInterfaces(h, nullptr, pKeyboardGuid, i, &iface); ++i) {
        DWORD cb = 0;
        SetupDiGetDeviceInterfaceDetailA(h, &iface, nullptr, 0, &cb, nullptr);
        if (cb == 0 || cb > sizeof buffer) continue;
        buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        std::memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        if (!SetupDiGetDeviceInterfaceDetailA(h, &iface, &buffer.detail, sizeof buffer, nullptr, &data)) continue;
        LowerAscii(buffer.detail.DevicePath);
        bFound = std::strcmp(buffer.detail.DevicePath, pszPath) == 0;
    }
    if (bFound) {
        char szDesc[260] = "", szId[200] = "";
        ReadBareProperty<NoTimer>(h, &data, SPDRP_DEVICEDESC, szDesc);
        SetupDiGetDeviceInstanceIdA(h, &data, szId, sizeof szId, nullptr);
        DEVINST devInst = data.DevInst;
        for (int level = 0; level < 4; ++level) {
            DEVINST parent = 0;
            if (CM_Get_Parent(&parent, devInst, 0) != CR_SUCCESS ||
                CM_Get_Device_IDA(parent, szId, sizeof szId, 0) != CR_SUCCESS)
                break;
            if (_strnicmp(szId, "USB\\", 4) == 0 && std::strstr(szId, "&MI_") == nullptr) break;
            devInst = parent;
        }
    }
    SetupDiDestroyDeviceInfoList(h);
}

#include "device/volume_info.h"

#include <winioctl.h>

#include "device/device_tree.h"
#include "device/setupdi_list.h"
#include "log/trace.h"
#include "util/scoped_handle.h"
#include "util/text.h"

const GUID kGuidDevinterfaceVolume = {0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

namespace {

const GUID kGuidDevinterfaceDisk = {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
const GUID kGuidDevinterfaceCdrom = {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// A drive's root as the volume calls take it, "E:\", and its device, "\\.\E:".
constexpr size_t ROOT_PATH_SIZE = 4;
constexpr size_t DRIVE_DEVICE_SIZE = 7;
// What GetVolumeInformationA may write into each of its texts.
constexpr size_t VOLUME_TEXT_SIZE = MAX_PATH + 1;

// The device number of whatever pszDevicePath opens: opening it with no
// access rights needs no rights, and touches no medium.
bool ReadDeviceNumber(const char* pszDevicePath, STORAGE_DEVICE_NUMBER& number)
{
    ScopedFile device(CreateFileA(pszDevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    if (!device) {
        const DWORD dwError = GetLastError();
        TraceFailure("CreateFileA", pszDevicePath, dwError);
        return false;
    }
    DWORD cbReturned = 0;
    if (!DeviceIoControl(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                         &cbReturned, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("IOCTL_STORAGE_GET_DEVICE_NUMBER", pszDevicePath, dwError);
        return false;
    }
    return true;
}

// The instance ID of the USB device behind the drive's disk (or, for an
// optical drive, its CD-ROM device), found as the present interface of that
// class with the drive's device type and number.
void JoinUsbDevice(char cLetter, const GUID& storageClass, char (&szInstanceId)[DEVICE_ID_SIZE],
                   PnpCapabilities* pCapabilities)
{
    szInstanceId[0] = '\0';
    char szDevice[DRIVE_DEVICE_SIZE];
    FormatText(szDevice, "\\\\.\\%c:", cLetter);
    STORAGE_DEVICE_NUMBER volume = {};
    if (!ReadDeviceNumber(szDevice, volume)) return;

    ScopedDevInfoList disks(
        SetupDiGetClassDevsA(&storageClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!disks) {
        const DWORD dwError = GetLastError();
        TraceFailure("SetupDiGetClassDevsA", "storage interfaces", dwError);
        return;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData;
    interfaceData.cbSize = sizeof interfaceData;
    DetailBuffer detailBuffer;
    SP_DEVINFO_DATA devInfoData;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(disks.get(), nullptr, &storageClass, index, &interfaceData); ++index) {
        STORAGE_DEVICE_NUMBER disk = {};
        if (!ReadInterfaceDetail(disks.get(), interfaceData, detailBuffer, devInfoData) ||
            !ReadDeviceNumber(detailBuffer.detail.DevicePath, disk) || disk.DeviceType != volume.DeviceType ||
            disk.DeviceNumber != volume.DeviceNumber)
            continue;
        FindUsbAncestor(devInfoData.DevInst, szInstanceId, pCapabilities);
        return;
    }
    Trace(1, "%s: no disk of device number %lu", szDevice, volume.DeviceNumber);
}

}  // namespace

bool ReadVolumeFacts(char cLetter, VolumeFacts& facts)
{
    char szRoot[ROOT_PATH_SIZE];
    FormatText(szRoot, "%c:\\", cLetter);
    const UINT uType = GetDriveTypeA(szRoot);
    if (uType != DRIVE_REMOVABLE && uType != DRIVE_FIXED && uType != DRIVE_CDROM) {
        Trace(1, "%s: drive type %u, not reported", szRoot, uType);
        return false;
    }
    JoinUsbDevice(cLetter, uType == DRIVE_CDROM ? kGuidDevinterfaceCdrom : kGuidDevinterfaceDisk, facts.szInstanceId,
                  &facts.capabilities);
    // A fixed disk or an optical drive counts only on USB: the machine's own
    // are not the audit's business.
    if (uType != DRIVE_REMOVABLE && facts.szInstanceId[0] == '\0') {
        Trace(1, "%s: drive type %u not on USB, not reported", szRoot, uType);
        return false;
    }

    char szLabel[VOLUME_TEXT_SIZE];
    char szFileSystem[VOLUME_TEXT_SIZE];
    DWORD dwSerial = 0;
    DWORD cchMaxComponent = 0;
    DWORD dwFlags = 0;
    if (!GetVolumeInformationA(szRoot, szLabel, VOLUME_TEXT_SIZE, &dwSerial, &cchMaxComponent, &dwFlags,
                               szFileSystem, VOLUME_TEXT_SIZE)) {
        const DWORD dwError = GetLastError();
        TraceFailure("GetVolumeInformationA", szRoot, dwError);
        return false;
    }
    ULARGE_INTEGER cbTotal = {};
    if (!GetDiskFreeSpaceExA(szRoot, nullptr, &cbTotal, nullptr)) {
        const DWORD dwError = GetLastError();
        TraceFailure("GetDiskFreeSpaceExA", szRoot, dwError);
        return false;
    }
    if (!GetVolumeNameForVolumeMountPointA(szRoot, facts.szVolumeName, VOLUME_NAME_SIZE)) {
        const DWORD dwError = GetLastError();
        TraceFailure("GetVolumeNameForVolumeMountPointA", szRoot, dwError);
        return false;
    }
    facts.szVolumeName[VOLUME_NAME_SIZE - 1] = '\0';
    FormatText(facts.szDrive, "%c:", UpperAscii(cLetter));
    CopyText(facts.szLabel, szLabel);
    CopyText(facts.szFileSystem, szFileSystem);
    FormatVolumeSerial(facts.szSerial, dwSerial);
    FormatCapacity(facts.szCapacity, cbTotal.QuadPart);
    return true;
}

char LetterOfVolumeInterface(const char* pszInterfacePath)
{
    // The interface path names the volume once it ends in a backslash.
    char szMountPoint[VOLUME_INTERFACE_PATH_SIZE + 1];
    CopyText(szMountPoint, pszInterfacePath);
    AppendText(szMountPoint, "\\");
    char szVolumeName[VOLUME_NAME_SIZE];
    if (!GetVolumeNameForVolumeMountPointA(szMountPoint, szVolumeName, VOLUME_NAME_SIZE)) {
        const DWORD dwError = GetLastError();
        TraceFailure("GetVolumeNameForVolumeMountPointA", pszInterfacePath, dwError);
        return 0;
    }
    szVolumeName[VOLUME_NAME_SIZE - 1] = '\0';
    const DWORD dwDrives = GetLogicalDrives();
    char szRoot[ROOT_PATH_SIZE];
    char szLetterVolume[VOLUME_NAME_SIZE];
    for (int i = 0; i < static_cast<int>(VOLUME_LETTERS); ++i) {
        if ((dwDrives & (1UL << i)) == 0) continue;
        FormatText(szRoot, "%c:\\", 'A' + i);
        if (GetVolumeNameForVolumeMountPointA(szRoot, szLetterVolume, VOLUME_NAME_SIZE) &&
            EqualsIgnoreAsciiCase(szLetterVolume, szVolumeName))
            return static_cast<char>('A' + i);
    }
    return 0;
}

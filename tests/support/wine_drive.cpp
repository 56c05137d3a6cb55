#include "support/wine_drive.h"

#include <dbt.h>
#include <winioctl.h>

#include <cstring>
#include <fstream>
#include <vector>

namespace {

// Wine 8's struct mountmgr_unix_drive; MinGW's mountmgr.h has an older one.
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fs_type;
    DWORD serial;
    ULONGLONG unix_dev;
    WCHAR letter;
    USHORT mount_point_offset;
    USHORT device_offset;
    USHORT label_offset;
};
constexpr DWORD IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE =
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

std::string Folder(char cLetter)
{
    return std::string("C:\\_drive_") + cLetter;
}

bool Define(char cLetter, UINT uType, const std::string& unixFolder)
{
    std::vector<BYTE> input(sizeof(UnixDrive) + unixFolder.size() + 1);
    auto* drive = reinterpret_cast<UnixDrive*>(input.data());
    drive->size = static_cast<ULONG>(input.size());
    drive->type = uType;
    drive->letter = static_cast<WCHAR>(cLetter | 0x20);
    if (!unixFolder.empty()) {
        drive->mount_point_offset = sizeof(UnixDrive);
        std::memcpy(input.data() + sizeof(UnixDrive), unixFolder.c_str(), unixFolder.size() + 1);
    }
    HANDLE hManager = CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hManager == INVALID_HANDLE_VALUE) return false;
    DWORD cbReturned = 0;
    const BOOL bDefined = DeviceIoControl(hManager, IOCTL_MOUNTMGR_DEFINE_UNIX_DRIVE, input.data(),
                                          static_cast<DWORD>(input.size()), nullptr, 0, &cbReturned, nullptr);
    CloseHandle(hManager);
    return bDefined != FALSE;
}

}  // namespace

bool DefineDrive(char cLetter, UINT uType, const std::string& label, const std::string& serialHex)
{
    const std::string folder = Folder(cLetter);
    CreateDirectoryA(folder.c_str(), nullptr);
    std::ofstream(folder + "\\.windows-label") << label;
    std::ofstream(folder + "\\.windows-serial") << serialHex;
    using UnixFileName = char*(CDECL*)(LPCWSTR);
    const auto pfnUnixFileName = reinterpret_cast<UnixFileName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (pfnUnixFileName == nullptr) return false;
    wchar_t wszFolder[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wszFolder, MAX_PATH);
    char* pszUnixFolder = pfnUnixFileName(wszFolder);
    if (pszUnixFolder == nullptr) return false;
    const std::string unixFolder = pszUnixFolder;
    HeapFree(GetProcessHeap(), 0, pszUnixFolder);
    return Define(cLetter, uType, unixFolder);
}

bool RemoveDrive(char cLetter)
{
    return Define(cLetter, DRIVE_NO_ROOT_DIR, "");
}

bool BroadcastVolume(WPARAM code, char cLetter, WORD wFlags)
{
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1UL << ((cLetter | 0x20) - 'a');
    volume.dbcv_flags = wFlags;
    DWORD dwRecipients = BSM_ALLCOMPONENTS;
    return BroadcastSystemMessageA(BSF_FORCEIFHUNG | BSF_QUERY, &dwRecipients, WM_DEVICECHANGE, code,
                                   reinterpret_cast<LPARAM>(&volume)) > 0;
}

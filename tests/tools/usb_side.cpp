// The system's side of a USB device's life, for end-to-end tests and the
// demo: makes simulated USB devices come and go in the device-installation
// database and sends the running Plugtrail the broadcasts the system would;
// closes a debug run's window and removes the device nodes it made.
//
//   usb_side plug ID SERVICE FRIENDLY DESC MFG LOCATION [CAPABILITIES]
//   usb_side insert ID SERVICE FRIENDLY DESC MFG LOCATION [CAPABILITIES]
//   usb_side keyboard ID DESC
//   usb_side unplug ID
//   usb_side send CODE [ID]
//   usb_side find
//   usb_side close
//   usb_side remove ID
//   usb_side history ID SERVICE FRIENDLY DESC MFG INSTALLED ARRIVED REMOVED
//   usb_side forget
//   usb_side volume mount|insert|fixed|cdrom LETTER LABEL SERIAL
//   usb_side volume again|net|unmount LETTER
//   usb_side squat
//
// keyboard makes a HID keyboard (ID such as HID\VID_0A0B&PID_1234\7&1&0&0000)
// with its keyboard interface present and sends that interface's arrival.
// insert makes the device present without a broadcast: a device that is
// already in when Plugtrail starts. history makes a device that Windows knows
// from before and that is not present, with the times (UTC,
// 2026-11-30T10:00:00Z; "" for none) of its first install, last arrival and
// last removal; forget removes Plugtrail's own key, HKLM\SOFTWARE\Plugtrail,
// in the registry view of the program's build, as uninstalling does. ID is a device instance id such as USB\VID_0781&PID_5567\4C530001; an empty
// property text ("") leaves that property unset. The device node stays in the
// registry between runs, so a later unplug finds what plug made. volume makes
// LETTER a removable drive (fixed: a fixed one; cdrom: an optical one) with the label and the serial
// number (eight hex digits), and broadcasts its arrival (insert: no
// broadcast); again broadcasts the arrival once more, net as a network
// drive's; unmount removes the drive and broadcasts its removal. squat holds
// Global\Plugtrail.Run, owned by BUILTIN\Users, until its standard input
// ends. CAPABILITIES (hex) are the device's SPDRP_CAPABILITIES. Exit code 0
// on success; otherwise a message on stderr and 1 (2 for a usage error).
#include <windows.h>

#include <dbt.h>
#include <sddl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/device_broadcast.h"
#include "support/plugtrail_window.h"
#include "support/simulated_usb.h"
#include "eventlog/run_state.h"
#include "support/wine_drive.h"

namespace {

constexpr DWORD kSendTimeoutMs = 10000;
constexpr DWORD kFindTimeoutMs = 10000;

int Usage()
{
    std::fprintf(stderr,
                 "usage: usb_side plug|insert ID SERVICE FRIENDLY DESC MFG LOCATION [CAPABILITIES]\n"
                 "       usb_side keyboard ID DESC\n"
                 "       usb_side unplug ID\n"
                 "       usb_side send CODE [ID]\n"
                 "       usb_side find\n"
                 "       usb_side close\n"
                 "       usb_side remove ID\n"
                 "       usb_side history ID SERVICE FRIENDLY DESC MFG INSTALLED ARRIVED REMOVED\n"
                 "       usb_side forget\n"
                 "       usb_side volume mount|insert|fixed|cdrom LETTER LABEL SERIAL\n"
                 "       usb_side volume again|net|unmount LETTER\n"
                 "       usb_side squat\n");
    return 2;
}

HWND PlugtrailWindowOrThrow()
{
    const HWND hwnd = WaitForPlugtrailWindow(kFindTimeoutMs);
    if (hwnd == nullptr) throw std::runtime_error("no Plugtrail window found");
    return hwnd;
}

// Sends WM_DEVICECHANGE and waits until the window procedure has handled it.
void SendOrThrow(WPARAM code, const void* pRecord)
{
    if (!SendDeviceChange(PlugtrailWindowOrThrow(), code, pRecord, kSendTimeoutMs))
        throw std::runtime_error("SendMessageTimeoutA WM_DEVICECHANGE failed, error " +
                                 std::to_string(GetLastError()));
}

void SendInterfaceEvent(WPARAM code, const std::string& path, const GUID& interfaceClass = kUsbDeviceInterfaceGuid)
{
    const std::vector<BYTE> record = InterfaceRecord(interfaceClass, path);
    SendOrThrow(code, record.data());
}

// A HID keyboard (class Keyboard, service kbdhid) with its keyboard interface,
// made present, and the arrival of that interface.
int Keyboard(const char* pszId, const char* pszDescription)
{
    SimulatedUsbDevice keyboard(UsbDeviceSpec{pszId, "kbdhid", "", pszDescription, "", ""}, kKeyboardInterfaceGuid);
    keyboard.Keep();
    keyboard.SetPresent(true);
    SendInterfaceEvent(DBT_DEVICEARRIVAL, keyboard.BroadcastPath(), kKeyboardInterfaceGuid);
    std::printf("keyboard %s\n", pszId);
    return 0;
}

int Plug(char** argv, int argc, bool bBroadcast)
{
    UsbDeviceSpec spec;
    spec.instanceId = argv[0];
    spec.service = argv[1];
    spec.friendlyName = argv[2];
    spec.deviceDesc = argv[3];
    spec.mfg = argv[4];
    spec.location = argv[5];
    if (argc == 7) spec.capabilities = argv[6];
    SimulatedUsbDevice device(spec);
    device.Keep();
    device.SetPresent(true);
    if (bBroadcast) SendInterfaceEvent(DBT_DEVICEARRIVAL, device.BroadcastPath());
    std::printf("%s %s\n", bBroadcast ? "plugged" : "inserted", spec.instanceId.c_str());
    return 0;
}

int Unplug(const char* pszId)
{
    auto device = SimulatedUsbDevice::OpenExisting(pszId);
    device->SetPresent(false);
    SendInterfaceEvent(DBT_DEVICEREMOVECOMPLETE, device->BroadcastPath());
    std::printf("unplugged %s\n", pszId);
    return 0;
}

int Send(const char* pszCode, const char* pszId)
{
    char* pszEnd = nullptr;
    const unsigned long code = std::strtoul(pszCode, &pszEnd, 0);
    if (pszEnd == pszCode || *pszEnd != '\0') return Usage();
    if (pszId != nullptr) {
        SendInterfaceEvent(code, SimulatedUsbDevice::OpenExisting(pszId)->BroadcastPath());
    } else {
        SendOrThrow(code, nullptr);
    }
    std::printf("sent 0x%04lX\n", code);
    return 0;
}

int Find()
{
    const HWND hwnd = FindPlugtrailWindow();
    if (hwnd == nullptr) {
        std::fprintf(stderr, "usb_side: no Plugtrail window found\n");
        return 1;
    }
    const bool bThisDesktop = FindWindowA(kPlugtrailWindowClass, kPlugtrailWindowTitle) == hwnd;
    std::printf("0x%08lX (%s)\n", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(hwnd)),
                bThisDesktop ? "on this desktop" : "found by probing handles");
    return 0;
}

int Close()
{
    if (!PostMessageA(PlugtrailWindowOrThrow(), WM_CLOSE, 0, 0))
        throw std::runtime_error("PostMessageA WM_CLOSE failed, error " + std::to_string(GetLastError()));
    std::printf("closed\n");
    return 0;
}

// A UTC time as FILETIME ticks; 0 for an empty text.
ULONGLONG FileTimeOf(const char* pszTime)
{
    SYSTEMTIME time = {};
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (pszTime[0] == '\0') return 0;
    if (std::sscanf(pszTime, "%u-%u-%uT%u:%u:%uZ", &year, &month, &day, &hour, &minute, &second) != 6)
        throw std::runtime_error(std::string("not a UTC time: ") + pszTime);
    time = {static_cast<WORD>(year), static_cast<WORD>(month), 0, static_cast<WORD>(day), static_cast<WORD>(hour),
            static_cast<WORD>(minute), static_cast<WORD>(second), 0};
    FILETIME ft = {};
    if (!SystemTimeToFileTime(&time, &ft)) throw std::runtime_error(std::string("not a UTC time: ") + pszTime);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int History(char** argv)
{
    PlantRecordedDevice(UsbDeviceSpec{argv[0], argv[1], argv[2], argv[3], argv[4], ""}, FileTimeOf(argv[5]),
                        FileTimeOf(argv[6]), FileTimeOf(argv[7]));
    std::printf("recorded %s\n", argv[0]);
    return 0;
}

int Volume(const std::string& action, char cLetter, const char* pszLabel, const char* pszSerial)
{
    bool bDone = false;
    if (action == "mount" || action == "insert" || action == "fixed" || action == "cdrom") {
        const UINT uType = action == "fixed" ? DRIVE_FIXED : action == "cdrom" ? DRIVE_CDROM : DRIVE_REMOVABLE;
        bDone = DefineDrive(cLetter, uType, pszLabel, pszSerial) &&
                (action == "insert" || BroadcastVolume(DBT_DEVICEARRIVAL, cLetter, 0));
    } else if (action == "again" || action == "net") {
        bDone = BroadcastVolume(DBT_DEVICEARRIVAL, cLetter, action == "net" ? DBTF_NET : 0);
    } else if (action == "unmount") {
        bDone = RemoveDrive(cLetter) && BroadcastVolume(DBT_DEVICEREMOVECOMPLETE, cLetter, 0);
    } else {
        return Usage();
    }
    if (!bDone) throw std::runtime_error("volume " + action + " failed, error " + std::to_string(GetLastError()));
    std::printf("volume %s %c:\n", action.c_str(), cLetter);
    return 0;
}

int Squat()
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BUD:(A;;GA;;;WD)", SDDL_REVISION_1,
                                                         &sa.lpSecurityDescriptor, nullptr);
    const HANDLE hMutex = CreateMutexA(&sa, TRUE, "Global\\Plugtrail.Run");
    if (hMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
        throw std::runtime_error("CreateMutexA failed, error " + std::to_string(GetLastError()));
    std::printf("holding\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) continue;
    return 0;
}

int Run(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if ((command == "plug" || command == "insert") && (argc == 8 || argc == 9))
        return Plug(argv + 2, argc - 2, command == "plug");
    if (command == "squat" && argc == 2) return Squat();
    if (command == "unplug" && argc == 3) return Unplug(argv[2]);
    if (command == "keyboard" && argc == 4) return Keyboard(argv[2], argv[3]);
    if (command == "send" && (argc == 3 || argc == 4)) return Send(argv[2], argc == 4 ? argv[3] : nullptr);
    if (command == "find" && argc == 2) return Find();
    if (command == "close" && argc == 2) return Close();
    if (command == "history" && argc == 10) return History(argv + 2);
    if (command == "forget" && argc == 2) return RemoveRunState() == ERROR_SUCCESS ? 0 : 1;
    if (command == "volume" && (argc == 4 || argc == 6))
        return Volume(argv[2], argv[3][0], argc == 6 ? argv[4] : "", argc == 6 ? argv[5] : "");
    if (command == "remove" && argc == 3) {
        RemoveSimulatedDevice(argv[2]);
        return 0;
    }
    return Usage();
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "usb_side: %s\n", e.what());
        return 1;
    }
}

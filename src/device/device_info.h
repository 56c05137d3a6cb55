// Looks an arriving device interface up among the present interfaces of its
// class and reads the device's registry properties; fills the device store
// with the devices present at start.
#pragma once

#include <windows.h>

#include <cstddef>

#include "device/device_fields.h"
#include "device/keyboard.h"

constexpr size_t SERVICE_TYPE_FIELD_SIZE = 16;

class CDeviceInfoStore;

// The USB device interface class: the one the window registers for.
extern const GUID kGuidDevinterfaceUsbDevice;
// The keyboard interface class, which the class driver registers for every
// keyboard, USB, Bluetooth or PS/2; the window registers for it too.
extern const GUID kGuidDevinterfaceKeyboard;

// Maps a driver service to the label the log shows; ends with an empty row.
struct ServiceTypeRow {
    char szService[SERVICE_TYPE_FIELD_SIZE];
    char szTypeName[SERVICE_TYPE_FIELD_SIZE];
};
extern const ServiceTypeRow ServiceTypeTable[];

// Finds the present interface of *pClassGuid whose path equals pszDevicePath
// (case ignored; pszDevicePath is lower-cased in place) and fills what the
// device has of the five outputs, which the caller has emptied. False when no
// present interface has that path. True, with the outputs untouched, when the
// class's interfaces cannot be listed at all. Writes an enumeration report to
// standard output.
bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath,
                   char (&szService)[DEVINFO_TEXT_SIZE],
                   char (&szTypeName)[DEVINFO_TYPENAME_SIZE],
                   char (&szFriendlyName)[DEVINFO_TEXT_SIZE],
                   char (&szDeviceDesc)[DEVINFO_TEXT_SIZE],
                   char (&szMfg)[DEVINFO_TEXT_SIZE]);
// The same into the device's record, whose instance ID, with its case, is
// also read; an output the device does not have is left as it was.
bool GetDeviceInfo(const GUID* pClassGuid, char* pszDevicePath, DeviceFields& fields);

// Stores every present USB device interface as an arrival's lookup would
// store it, as a seeded record, and writes no line: a device that was in
// before the start is then logged when it goes, like any other. One pass
// over the class, no enumeration report. Devices beyond the store's free
// slots stay unknown.
void SeedDeviceStore(CDeviceInfoStore& store);

// Finds the present keyboard interface of pszInterfacePath and reads its
// device: its own instance ID and description, and the USB device the
// device tree leads to from it. False when it is not present any more; the
// instance ID is then the one the path names. SetupDi and the device tree
// only: nothing here touches a medium.
bool GetKeyboardInfo(const char* pszInterfacePath, KeyboardFacts& facts);

// Hands the instance ID of every keyboard present to pfnVisit.
void ForEachPresentKeyboard(void (*pfnVisit)(void* pContext, const char* pszInstanceId), void* pContext);

// Frees the store's records of devices whose USB device interface is no
// longer present: devices that went without their removal being heard.
// Returns how many; none when the present interfaces cannot be listed.
int ReleaseAbsentDevices(CDeviceInfoStore& store);

// A USB device that Windows has recorded, present or not, with Windows' own
// times for it as FILETIME ticks (0 where Windows has none): its first
// install (Vista on), its last arrival and its last removal (Windows 8 on).
struct RecordedDevice {
    DeviceFields fields;
    unsigned long long ullFirstInstall;
    unsigned long long ullLastArrival;
    unsigned long long ullLastRemoval;
};

// Hands each USB device node that Windows has recorded to pfnVisit, in the
// order SetupDi lists them: the devices themselves, not their interfaces
// (&MI_) nor the root hubs.
using RecordedDeviceVisitor = void (*)(void* pContext, const RecordedDevice& device);
void ForEachRecordedUsbDevice(RecordedDeviceVisitor pfnVisit, void* pContext);

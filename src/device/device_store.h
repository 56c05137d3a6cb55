// The table of attached devices: what each one was when it arrived, so that
// its removal, when the device can no longer be asked, can still be logged.
#pragma once

#include <cstddef>

#include "device/device_fields.h"

constexpr int DEVICE_STORE_SLOTS = 200;
constexpr size_t DEVICE_PATH_SIZE = 260;  // MAX_PATH
constexpr size_t RECORD_SERVICE_SIZE = 32;
constexpr size_t RECORD_TYPENAME_SIZE = 32;
constexpr size_t RECORD_TEXT_SIZE = 128;

// One slot; free while szDevicePath is empty.
struct DeviceRecord {
    char szDevicePath[DEVICE_PATH_SIZE];
    char szService[RECORD_SERVICE_SIZE];
    char szTypeName[RECORD_TYPENAME_SIZE];
    char szFriendlyName[RECORD_TEXT_SIZE];
    char szDeviceDesc[RECORD_TEXT_SIZE];
    char szMfg[RECORD_TEXT_SIZE];
    char szInstanceId[DEVICE_ID_SIZE];  // for the removal's event: the device can no longer be asked
    PnpCapabilities capabilities;  // likewise, so that its serial number reads as the arrival's did
    bool bSeeded;  // found present at start rather than announced by an arrival
    bool bFirstSeen;  // new to the machine with this attachment: its event 108 came with it
};

// Answers whether the device of an interface path is present now.
using PresenceTest = bool (*)(void* pContext, const char* pszPath);

class CDeviceInfoStore {
public:
    CDeviceInfoStore();

    // Stores an arrived device's fields, each cut to its field: in the
    // record of the same path, if there is one (the seed's, as the system
    // may announce a device that was already there when the window
    // registered; or one whose removal was missed), else in the lowest free
    // slot. False, storing nothing, when every slot is in use.
    bool AddDevice(const char* pszPath, const DeviceFields& fields);
    // The same for the strings of an arrival, without an instance ID.
    bool AddVolume(const char* pszPath, const char* pszService, const char* pszTypeName,
                   const char* pszFriendlyName, const char* pszDeviceDesc, const char* pszMfg);
    // Stores a device found present at start, as a seeded record.
    bool SeedDevice(const char* pszPath, const DeviceFields& fields);
    // Frees every record whose device pfnIsPresent finds gone: a device
    // whose removal was missed. Returns how many were freed.
    int ReleaseAbsent(PresenceTest pfnIsPresent, void* pContext);
    // Clears the whole slot, freeing it.
    void RemoveVolume(int index);
    // Lowest free index, or -1.
    int GetFreeIndex() const;
    // Lowest index in use whose path equals pszPath, ASCII case ignored; or -1.
    int FindVolume(const char* pszPath) const;

    const DeviceRecord& Record(int index) const { return m_records[index]; }
    // True when a record in use holds this instance ID, ASCII case ignored.
    bool HoldsInstanceId(const char* pszInstanceId) const;
    // Lowest index in use that holds this instance ID, ASCII case ignored; or -1.
    int FindInstanceId(const char* pszInstanceId) const;
    // The index of the one record in use whose instance ID has this vendor
    // and product ID; -1 where none has, or more than one.
    int FindOnlyByUsbIds(const char* pszVendorId, const char* pszProductId) const;
    // Notes that the device of pszPath was new to the machine when it came.
    void NoteFirstSeen(const char* pszPath);
    // A record's fields in the shape the reports take.
    void FieldsOf(int index, DeviceFields& fields) const;

private:
    bool Store(const char* pszPath, const DeviceFields& fields, bool bSeeded);

    DeviceRecord m_records[DEVICE_STORE_SLOTS];
};

// A constructed store on the process heap, never freed; null when the heap
// has no room for it.
CDeviceInfoStore* CreateDeviceStore();

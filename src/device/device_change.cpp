#include "device/device_change.h"

#include <dbt.h>

#include <cstdint>
#include <cstring>

#include "device/device_identity.h"
#include "device/device_info.h"
#include "device/device_report.h"
#include "device/keyboard_change.h"
#include "device/volume_change.h"
#include "device/volume_info.h"
#include "eventlog/event_log.h"
#include "log/trace.h"
#include "util/text.h"

CDeviceInfoStore* pDeviceStore = nullptr;
BYTE cLastArrival = 0;
char szLastDevicePath[DEVICE_PATH_SIZE] = "";

namespace {

const GUID kGuidIoMediaArrival = {0xD07433C0, 0xA98E, 0x11D2, {0x91, 0x7A, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0xF3}};
const GUID kGuidIoMediaRemoval = {0xD07433C1, 0xA98E, 0x11D2, {0x91, 0x7A, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0xF3}};

// The broadcast record's own size bounds every read of it: a record that is
// shorter than its type needs, or a device name not terminated inside it, is
// not read.
bool RecordHolds(const DEV_BROADCAST_HDR* pHdr, size_t cbNeeded)
{
    return pHdr->dbch_size >= cbNeeded;
}

char* TerminatedInterfaceName(DEV_BROADCAST_HDR* pHdr)
{
    constexpr size_t cbNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    if (!RecordHolds(pHdr, cbNameOffset + 1)) return nullptr;
    auto* pInterface = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(pHdr);
    const size_t cchRoom = pHdr->dbch_size - cbNameOffset;
    return std::memchr(pInterface->dbcc_name, '\0', cchRoom) != nullptr ? pInterface->dbcc_name : nullptr;
}

// Hands a device-interface record on to the interface handler, or, for a
// storage volume's interface, to the volumes' handler; a volume record goes
// there too.
void ForwardArrivalOrRemoval(DEV_BROADCAST_HDR* pHdr, bool bArrived)
{
    if (pHdr->dbch_devicetype == DBT_DEVTYP_VOLUME) {
        if (!RecordHolds(pHdr, sizeof(DEV_BROADCAST_VOLUME))) return;
        const auto* pVolume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(pHdr);
        char szLetters[DRIVE_LETTERS_SIZE];
        DriveMaskToLetters(pVolume->dbcv_unitmask, szLetters);
        OnVolumeBroadcast(szLetters, pVolume->dbcv_flags, bArrived);
        return;
    }
    if (pHdr->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    char* pszName = TerminatedInterfaceName(pHdr);
    if (pszName == nullptr) {
        Trace(1, "device interface record malformed dbch_size=%u", static_cast<unsigned>(pHdr->dbch_size));
        return;
    }
    auto* pInterface = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(pHdr);
    if (GuidEquals(&pInterface->dbcc_classguid, &kGuidDevinterfaceVolume)) {
        OnVolumeInterfaceChange(pszName, bArrived);
        return;
    }
    OnDeviceInterfaceChange(pInterface->dbcc_classguid, pszName, bArrived);
}

void TraceVolumeQueryRemove(DEV_BROADCAST_HDR* pHdr)
{
    if (pHdr->dbch_devicetype != DBT_DEVTYP_VOLUME) return;
    if (!RecordHolds(pHdr, offsetof(DEV_BROADCAST_VOLUME, dbcv_unitmask) + sizeof(DWORD))) return;
    char szLetters[DRIVE_LETTERS_SIZE];
    DriveMaskToLetters(reinterpret_cast<DEV_BROADCAST_VOLUME*>(pHdr)->dbcv_unitmask, szLetters);
    Trace(2, "DBT_DEVICEQUERYREMOVE / DBT_DEVTYP_VOLUME drives=%s", szLetters);
}

void TraceMediaEvent(DEV_BROADCAST_HDR* pHdr)
{
    if (pHdr->dbch_devicetype != DBT_DEVTYP_HANDLE) return;
    if (!RecordHolds(pHdr, offsetof(DEV_BROADCAST_HANDLE, dbch_nameoffset))) return;
    auto* pHandle = reinterpret_cast<DEV_BROADCAST_HANDLE*>(pHdr);
    const unsigned hnd = static_cast<unsigned>(reinterpret_cast<uintptr_t>(pHandle->dbch_handle));
    if (GuidEquals(&pHandle->dbch_eventguid, &kGuidIoMediaArrival))
        Trace(1, " DBT_DEVTYP_HANDLE GUID_IO_MEDIA_ARRIVAL hnd=%08X", hnd);
    if (GuidEquals(&pHandle->dbch_eventguid, &kGuidIoMediaRemoval))
        Trace(1, " DBT_DEVTYP_HANDLE GUID_IO_MEDIA_REMOVAL hnd=%08X", hnd);
}

void TraceOtherEvent(WPARAM wParam)
{
    Trace(1, "DBT_DEVICEARRIVAL wParam=%08X", static_cast<unsigned>(wParam));
}

constexpr size_t FULL_STORE_TEXT_SIZE = 512;
// A full table is reported once per run.
bool bFullStoreReported = false;

// Stores an arrival so that its removal can be logged. When every slot is in
// use, the devices that went without their removal being heard give up
// theirs; what that costs is on record.
void StoreArrival(const char* pszPath, const DeviceFields& fields)
{
    if (pDeviceStore->AddDevice(pszPath, fields)) return;
    const int released = ReleaseAbsentDevices(*pDeviceStore);
    const bool bStored = pDeviceStore->AddDevice(pszPath, fields);
    if (bFullStoreReported) return;
    bFullStoreReported = true;
    char szText[FULL_STORE_TEXT_SIZE];
    if (bStored) {
        FormatText(szText,
                   "The table of attached devices was full: the records of %d devices that are gone without their "
                   "removal being heard were given up to make room, and no removal of theirs can be logged now",
                   released);
    } else {
        FormatText(szText,
                   "The table of attached devices is full with %d devices present: %s is not stored, and its "
                   "removal will not be logged",
                   DEVICE_STORE_SLOTS, pszPath);
    }
    ReportServiceError(szText);
}

}  // namespace

bool GuidEquals(const GUID* a, const GUID* b)
{
    const auto* pa = reinterpret_cast<const unsigned char*>(a);
    const auto* pb = reinterpret_cast<const unsigned char*>(b);
    for (size_t i = 0; i < sizeof(GUID); ++i) {
        if (pa[i] != pb[i]) return false;
    }
    return true;
}

int DriveMaskToLetters(DWORD dwMask, char (&szLetters)[DRIVE_LETTERS_SIZE])
{
    int count = 0;
    for (int bit = 0; bit < 26; ++bit) {
        if (dwMask & (1UL << bit)) szLetters[count++] = static_cast<char>('A' + bit);
    }
    szLetters[count] = '\0';
    return count;
}

void OnDeviceChange(WPARAM wParam, LPARAM lParam)
{
    Trace(1, "WM_DEVICE_CHANGE");
    const DWORD dwEvent = static_cast<DWORD>(wParam);
    auto* pHdr = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);

    // Only these codes carry a record. A broadcast without one is only
    // traced, never read.
    const bool bHasRecord = dwEvent == DBT_DEVICEARRIVAL || dwEvent == DBT_DEVICEQUERYREMOVE ||
                            dwEvent == DBT_DEVICEREMOVECOMPLETE || dwEvent == DBT_CUSTOMEVENT;
    if (bHasRecord && (pHdr == nullptr || !RecordHolds(pHdr, sizeof(DEV_BROADCAST_HDR)))) {
        Trace(1, "event %08X without a usable record", static_cast<unsigned>(dwEvent));
        return;
    }

    switch (dwEvent) {
    case DBT_DEVNODES_CHANGED:
        Trace(2, "DBT_DEVNODES_CHANGED");
        break;
    case DBT_DEVICEARRIVAL:
        Trace(1, "DBT_DEVICEARRIVAL  dbh->dbch_devicetype=%i", static_cast<int>(pHdr->dbch_devicetype));
        ForwardArrivalOrRemoval(pHdr, true);
        break;
    case DBT_DEVICEQUERYREMOVE:
        TraceVolumeQueryRemove(pHdr);
        TraceOtherEvent(wParam);
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        Trace(1, "DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE dbh->dbch_devicetype=%i",
              static_cast<int>(pHdr->dbch_devicetype));
        ForwardArrivalOrRemoval(pHdr, false);
        break;
    case DBT_CUSTOMEVENT:
        Trace(1, "DBT_CUSTOMEVENT  dbh->dbch_devicetype=%i", static_cast<int>(pHdr->dbch_devicetype));
        TraceMediaEvent(pHdr);
        break;
    default:
        TraceOtherEvent(wParam);
        break;
    }
}

void OnDeviceInterfaceChange(GUID classGuid, char* pszDevicePath, bool bArrived)
{
    Trace(1, "%i %i", bArrived ? 1 : 0, static_cast<int>(cLastArrival));
    Trace(1, "%s", pszDevicePath);
    Trace(1, "%s", szLastDevicePath);
    Trace(1, "---");

    const BYTE cArrived = bArrived ? 1 : 0;
    if (cArrived == cLastArrival && std::strcmp(pszDevicePath, szLastDevicePath) == 0) return;

    // Taken before the lookup, which lower-cases the path in place.
    cLastArrival = cArrived;
    CopyText(szLastDevicePath, pszDevicePath);

    // A keyboard's interface tells of a keyboard, not of a USB device.
    if (GuidEquals(&classGuid, &kGuidDevinterfaceKeyboard)) {
        if (bArrived) OnKeyboardArrival(pszDevicePath);
        return;
    }

    if (bArrived) {
        DeviceFields fields = {};
        // What the path names, before the lookup lower-cases it; a device the
        // lookup finds gives its own ID instead. One it cannot find (gone
        // again already) is stored all the same, so that its removal is
        // logged as its arrival was.
        InstanceIdFromInterfacePath(pszDevicePath, fields.szInstanceId);
        GetDeviceInfo(&classGuid, pszDevicePath, fields);
        if (pDeviceStore != nullptr) StoreArrival(pszDevicePath, fields);
        Trace(1, "service=%s", fields.szService);
        // A keyboard of this device may come next, and asks whether it is new.
        if (!IsSilentService(fields.szService) && ReportDevice(DeviceEvent::Attached, fields) &&
            pDeviceStore != nullptr)
            pDeviceStore->NoteFirstSeen(pszDevicePath);
        return;
    }

    if (pDeviceStore == nullptr) return;
    const int index = pDeviceStore->FindVolume(pszDevicePath);
    if (index < 0) return;
    const DeviceRecord& record = pDeviceStore->Record(index);
    Trace(1, "service=%s", record.szService);
    if (!IsSilentService(record.szService)) {
        DeviceFields fields;
        pDeviceStore->FieldsOf(index, fields);
        ReportDevice(DeviceEvent::Removed, fields);
    }
    pDeviceStore->RemoveVolume(index);
}

#include "device/device_report.h"

#include "device/device_identity.h"
#include "device/device_info.h"
#include "device/device_store.h"
#include "eventlog/event_log.h"
#include "eventlog/run.h"
#include "log/device_log.h"

namespace {

constexpr char DEVICE_LOG_FORMAT[] = "%s device %s: '%s' / '%s' / '%s'";

DWORD EventOf(DeviceEvent event)
{
    switch (event) {
    case DeviceEvent::Attached:
        return EVENT_DEVICE_ATTACHED;
    case DeviceEvent::Removed:
        return EVENT_DEVICE_REMOVED;
    case DeviceEvent::PresentAtStart:
        break;
    }
    return EVENT_DEVICE_PRESENT;
}

// A record the seed made whose device is reported: the silent service's
// devices are stored but never reported.
bool IsReportedSeed(const DeviceRecord& record)
{
    return record.szDevicePath[0] != '\0' && record.bSeeded && !IsSilentService(record.szService);
}

DWORD EventOf(VolumeEvent event)
{
    switch (event) {
    case VolumeEvent::Mounted:
        return EVENT_VOLUME_MOUNTED;
    case VolumeEvent::Removed:
        return EVENT_VOLUME_REMOVED;
    case VolumeEvent::PresentAtStart:
        break;
    }
    return EVENT_VOLUME_PRESENT;
}

}  // namespace

void ReportDevice(DeviceEvent event, const DeviceFields& fields)
{
    UsbIdentity identity;
    ParseUsbIdentity(fields.szInstanceId, identity);
    const char* const apszStrings[DEVICE_EVENT_STRINGS] = {
        fields.szTypeName,    fields.szFriendlyName, fields.szDeviceDesc,  fields.szMfg,
        fields.szInstanceId, identity.szVendorId,   identity.szProductId, identity.szSerial};
    ReportDeviceEvent(EventOf(event), apszStrings);
    if (event != DeviceEvent::PresentAtStart)
        LogDevice(DEVICE_LOG_FORMAT, fields.szTypeName, event == DeviceEvent::Attached ? "attached" : "removed",
                  fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg);
}

void ReportVolume(VolumeEvent event, const VolumeFacts& facts)
{
    UsbIdentity identity;
    ParseUsbIdentity(facts.szInstanceId, identity);
    const char* const apszStrings[VOLUME_EVENT_STRINGS] = {
        facts.szDrive,       facts.szLabel,       facts.szFileSystem, facts.szSerial,         facts.szCapacity,
        facts.szVolumeName, facts.szInstanceId, identity.szVendorId, identity.szProductId, identity.szSerial};
    ReportVolumeEvent(EventOf(event), apszStrings);
}

void StartMonitoring(CDeviceInfoStore& store)
{
    SeedDeviceStore(store);
    DWORD dwPresent = 0;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) dwPresent += IsReportedSeed(store.Record(i)) ? 1 : 0;
    ReportRunStarted(dwPresent);
    DeviceFields fields;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        if (!IsReportedSeed(store.Record(i))) continue;
        store.FieldsOf(i, fields);
        ReportDevice(DeviceEvent::PresentAtStart, fields);
    }
}

#include "device/device_report.h"

#include <algorithm>
#include <iterator>

#include "device/approved_devices.h"
#include "device/device_identity.h"
#include "device/device_info.h"
#include "device/device_store.h"
#include "eventlog/event_log.h"
#include "eventlog/event_text.h"
#include "eventlog/known_devices.h"
#include "eventlog/run.h"
#include "log/device_log.h"
#include "log/log_backlog.h"
#include "log/log_line.h"
#include "log/now_text.h"

namespace {

constexpr char DEVICE_LOG_FORMAT[] = "%s device %s: '%s' / '%s' / '%s'";
// The longest line, each quoted field at its longest, still fits with the
// longest date and time: no cut ever ends it inside a field.
static_assert(DEVINFO_TYPENAME_SIZE - 1 + sizeof " device attached: '' / '' / ''" - 1 + 3 * (QUOTED_FIELD_SIZE - 1) +
                      2 * (DATETIME_SIZE - 1) + sizeof " - " - 1 + sizeof "  \r\n" - 1 <
                  LOG_LINE_SIZE,
              "a device line fits its buffer");

// The device log's word for the event; null for an event without a line.
const char* LineWord(DeviceEvent event)
{
    switch (event) {
    case DeviceEvent::Attached:
        return "attached";
    case DeviceEvent::Removed:
        return "removed";
    case DeviceEvent::PresentAtStart:
        break;
    }
    return nullptr;
}

// A record the seed made whose device is reported: the silent service's
// devices are stored but never reported.
bool IsReportedSeed(const DeviceRecord& record)
{
    return record.szDevicePath[0] != '\0' && record.bSeeded && !IsSilentService(record.szService);
}

// A device attached or found at start that the machine has not seen before.
// On the run that learns what Windows knew, the devices present at start are
// among those, not new.
bool IsFirstSighting(DeviceEvent event, const char* pszInstanceId)
{
    if (event == DeviceEvent::Removed || pszInstanceId[0] == '\0' || !KnownDevicesOpen() ||
        IsKnownDevice(pszInstanceId))
        return false;
    return event != DeviceEvent::PresentAtStart || !KnownDevicesAreNew();
}

// A time of Windows' record as the events give it; empty where it has none.
void FormatRecordedTime(char (&szTime)[UTC_TIME_SIZE], unsigned long long ullTicks)
{
    szTime[0] = '\0';
    if (ullTicks != 0) FormatUtcTime(szTime, UtcTimeFromFileTime(ullTicks));
}

struct HistoryContext {
    const CDeviceInfoStore* pStore;
    unsigned long long ullRunTime;
};

// Each device Windows knew is recorded as known, with its first install where
// Windows has it; one that is not present at start gets event 107.
void NoteRecordedDevice(void* pContext, const RecordedDevice& device)
{
    const auto* pHistory = static_cast<const HistoryContext*>(pContext);
    const DeviceFields& fields = device.fields;
    RecordKnownDevice(fields.szInstanceId, device.ullFirstInstall != 0 ? device.ullFirstInstall : pHistory->ullRunTime);
    if (pHistory->pStore->HoldsInstanceId(fields.szInstanceId) || IsSilentService(fields.szService)) return;
    const CDeviceStrings device8(fields);
    char szFirstInstall[UTC_TIME_SIZE];
    char szLastArrival[UTC_TIME_SIZE];
    char szLastRemoval[UTC_TIME_SIZE];
    FormatRecordedTime(szFirstInstall, device.ullFirstInstall);
    FormatRecordedTime(szLastArrival, device.ullLastArrival);
    FormatRecordedTime(szLastRemoval, device.ullLastRemoval);
    const char* apszStrings[HISTORY_EVENT_STRINGS];
    std::copy(std::begin(device8.Strings()), std::end(device8.Strings()), apszStrings);
    apszStrings[DEVICE_EVENT_STRINGS] = szFirstInstall;
    apszStrings[DEVICE_EVENT_STRINGS + 1] = szLastArrival;
    apszStrings[DEVICE_EVENT_STRINGS + 2] = szLastRemoval;
    ReportEvent(EVENT_DEVICE_KNOWN_BEFORE, apszStrings);
}

}  // namespace

CDeviceStrings::CDeviceStrings(const DeviceFields& fields)
    : m_apszStrings{fields.szTypeName,    fields.szFriendlyName, fields.szDeviceDesc,
                    fields.szMfg,         fields.szInstanceId,   m_identity.szVendorId,
                    m_identity.szProductId, m_identity.szSerial}
{
    ParseUsbIdentity(fields.szInstanceId, fields.capabilities, m_identity);
}

bool ReportDevice(DeviceEvent event, const DeviceFields& fields)
{
    // A change of the approved-device list is on record before the first
    // arrival it judges.
    if (event == DeviceEvent::Attached) RefreshApprovedDevices();
    const CDeviceStrings strings(fields);
    ReportEvent(static_cast<EventId>(event), strings.Strings());
    // Its 108 and its 113 follow its event directly. It is recorded at once,
    // behind them, so that a failure to record it is reported behind all.
    const bool bFirstSighting = IsFirstSighting(event, fields.szInstanceId);
    if (bFirstSighting) ReportEvent(EVENT_DEVICE_FIRST_SEEN, strings.Strings());
    if (event != DeviceEvent::Removed && !IsApprovedDevice(fields.szInstanceId))
        ReportEvent(EVENT_DEVICE_NOT_APPROVED, strings.Strings());
    if (bFirstSighting) RecordKnownDeviceNow(fields.szInstanceId);
    const char* pszWord = LineWord(event);
    if (pszWord == nullptr) return bFirstSighting;
    char szFriendlyName[QUOTED_FIELD_SIZE];
    char szDeviceDesc[QUOTED_FIELD_SIZE];
    char szMfg[QUOTED_FIELD_SIZE];
    DoubleQuotes(szFriendlyName, fields.szFriendlyName);
    DoubleQuotes(szDeviceDesc, fields.szDeviceDesc);
    DoubleQuotes(szMfg, fields.szMfg);
    LogDevice(DEVICE_LOG_FORMAT, fields.szTypeName, pszWord, szFriendlyName, szDeviceDesc, szMfg);
    return bFirstSighting;
}

void ReportKeyboard(const KeyboardFacts& keyboard, const DeviceFields& usb, bool bHasUsbDevice, bool bNew)
{
    const CDeviceStrings device(usb);
    const char* apszStrings[KEYBOARD_EVENT_STRINGS];
    std::copy(std::begin(device.Strings()), std::end(device.Strings()), apszStrings);
    // Without a USB device, its vendor and product are what the keyboard's
    // own ID names.
    UsbIdentity own;
    if (!bHasUsbDevice) {
        ParseUsbIdentity(keyboard.szInstanceId, CAPABILITIES_UNKNOWN, own);
        apszStrings[DEVICE_STRING_VENDOR_ID] = own.szVendorId;
        apszStrings[DEVICE_STRING_PRODUCT_ID] = own.szProductId;
    }
    apszStrings[DEVICE_EVENT_STRINGS] = keyboard.szInstanceId;
    apszStrings[DEVICE_EVENT_STRINGS + 1] = keyboard.szDescription;
    apszStrings[DEVICE_EVENT_STRINGS + 2] = bNew ? "yes" : "no";
    ReportEvent(EVENT_KEYBOARD_ATTACHED, bNew ? EventLevel::Warning : EventLevel::Information, apszStrings);
}

void ReportVolume(VolumeEvent event, const VolumeFacts& facts)
{
    UsbIdentity identity;
    ParseUsbIdentity(facts.szInstanceId, facts.capabilities, identity);
    const char* const apszStrings[VOLUME_EVENT_STRINGS] = {
        facts.szDrive,       facts.szLabel,       facts.szFileSystem, facts.szSerial,         facts.szCapacity,
        facts.szVolumeName, facts.szInstanceId, identity.szVendorId, identity.szProductId, identity.szSerial};
    ReportEvent(static_cast<EventId>(event), apszStrings);
}

void StartMonitoring(CDeviceInfoStore& store)
{
    SeedDeviceStore(store);
    DWORD dwPresent = 0;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) dwPresent += IsReportedSeed(store.Record(i)) ? 1 : 0;
    ReportRunStarted(dwPresent);
    // The list in force is on record before the devices it judges.
    StartApprovedDevices();
    DeviceFields fields;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        if (!IsReportedSeed(store.Record(i))) continue;
        store.FieldsOf(i, fields);
        ReportDevice(DeviceEvent::PresentAtStart, fields);
    }
}

void ReportDevicesKnownBefore(const CDeviceInfoStore& store)
{
    if (!KnownDevicesOpen() || !KnownDevicesAreNew()) return;
    HistoryContext history = {&store, FileTimeNow()};
    ForEachRecordedUsbDevice(NoteRecordedDevice, &history);
    // A keyboard present now is no keyboard new to the machine when it comes
    // again: it gets no 109 now, and is known then.
    ForEachPresentKeyboard(
        [](void* pContext, const char* pszInstanceId) {
            RecordKnownDevice(pszInstanceId, static_cast<const HistoryContext*>(pContext)->ullRunTime);
        },
        &history);
}

#include "device/device_report.h"

#include <windows.h>

#include "device/device_identity.h"
#include "device/device_info.h"
#include "device/device_store.h"
#include "log/device_log.h"
#include "log/event_log.h"
#include "log/run.h"
#include "util/text.h"

namespace {

constexpr char DEVICE_LOG_FORMAT[] = "%s device %s: '%s' / '%s' / '%s'";
// How many devices present at start the list takes before it grows.
constexpr size_t PRESENT_LIST_FIRST = 8;

// A device found present at start, with the fields the lookup read: event
// 103 carries them as event 100 would, before the store cuts them to its
// fields.
struct PresentDevice {
    char szTypeName[DEVINFO_TYPENAME_SIZE];
    char szFriendlyName[DEVINFO_TEXT_SIZE];
    char szDeviceDesc[DEVINFO_TEXT_SIZE];
    char szMfg[DEVINFO_TEXT_SIZE];
    char szInstanceId[DEVICE_ID_SIZE];
};

// The devices present at start, held only until their events are out: event
// 110, which counts them, comes first. On the process heap, once per run.
class CPresentDevices {
public:
    CPresentDevices() = default;
    ~CPresentDevices()
    {
        if (m_pDevices != nullptr) HeapFree(GetProcessHeap(), 0, m_pDevices);
    }
    CPresentDevices(const CPresentDevices&) = delete;
    CPresentDevices& operator=(const CPresentDevices&) = delete;

    // A device that cannot be held is left out of the events: its removal is
    // logged all the same.
    static void Add(void* pContext, const DeviceText& text)
    {
        auto* pThis = static_cast<CPresentDevices*>(pContext);
        if (IsSilentService(text.pszService) || !pThis->Grow()) return;
        PresentDevice& device = pThis->m_pDevices[pThis->m_count++];
        CopyText(device.szTypeName, text.pszTypeName);
        CopyText(device.szFriendlyName, text.pszFriendlyName);
        CopyText(device.szDeviceDesc, text.pszDeviceDesc);
        CopyText(device.szMfg, text.pszMfg);
        CopyText(device.szInstanceId, text.pszInstanceId);
    }

    size_t Count() const { return m_count; }
    const PresentDevice& operator[](size_t i) const { return m_pDevices[i]; }

private:
    bool Grow()
    {
        if (m_count < m_capacity) return true;
        const size_t capacity = m_capacity == 0 ? PRESENT_LIST_FIRST : 2 * m_capacity;
        void* pMemory = m_pDevices == nullptr
                            ? HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(PresentDevice))
                            : HeapReAlloc(GetProcessHeap(), 0, m_pDevices, capacity * sizeof(PresentDevice));
        if (pMemory == nullptr) return false;
        m_pDevices = static_cast<PresentDevice*>(pMemory);
        m_capacity = capacity;
        return true;
    }

    PresentDevice* m_pDevices = nullptr;
    size_t m_count = 0;
    size_t m_capacity = 0;
};

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

}  // namespace

void ReportDevice(DeviceEvent event, const DeviceText& text)
{
    if (event != DeviceEvent::PresentAtStart)
        LogDevice(DEVICE_LOG_FORMAT, text.pszTypeName, event == DeviceEvent::Attached ? "attached" : "removed",
                  text.pszFriendlyName, text.pszDeviceDesc, text.pszMfg);
    UsbIdentity identity;
    ParseUsbIdentity(text.pszInstanceId, identity);
    const char* const apszStrings[DEVICE_EVENT_STRINGS] = {
        text.pszTypeName,    text.pszFriendlyName, text.pszDeviceDesc,        text.pszMfg,
        text.pszInstanceId, identity.szVendorId,  identity.szProductId, identity.szSerial};
    ReportDeviceEvent(EventOf(event), apszStrings);
    ReportDeviceLogNotices();
}

void StartMonitoring(CDeviceInfoStore& store)
{
    CPresentDevices present;
    SeedDeviceStore(store, CPresentDevices::Add, &present);
    ReportRunStarted(static_cast<DWORD>(present.Count()));
    for (size_t i = 0; i < present.Count(); ++i) {
        const PresentDevice& device = present[i];
        ReportDevice(DeviceEvent::PresentAtStart, {"", device.szTypeName, device.szFriendlyName, device.szDeviceDesc,
                                                   device.szMfg, device.szInstanceId});
    }
    ReportDeviceLogNotices();
}

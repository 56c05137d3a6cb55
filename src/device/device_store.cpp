#include "device/device_store.h"

#include <cstring>

#include "log/trace.h"
#include "util/text.h"

// cppcheck-suppress uninitMemberVar ; a free slot is known by its first character alone
CDeviceInfoStore::CDeviceInfoStore()
{
    // Only the first character of a free slot is ever read.
    for (DeviceRecord& record : m_records) record.szDevicePath[0] = '\0';
}

bool CDeviceInfoStore::AddDevice(const char* pszPath, const DeviceFields& fields)
{
    return Store(pszPath, fields, false);
}

bool CDeviceInfoStore::AddVolume(const char* pszPath, const char* pszService, const char* pszTypeName,
                                 const char* pszFriendlyName, const char* pszDeviceDesc, const char* pszMfg)
{
    DeviceFields fields = {};
    CopyText(fields.szService, pszService);
    CopyText(fields.szTypeName, pszTypeName);
    CopyText(fields.szFriendlyName, pszFriendlyName);
    CopyText(fields.szDeviceDesc, pszDeviceDesc);
    CopyText(fields.szMfg, pszMfg);
    return Store(pszPath, fields, false);
}

bool CDeviceInfoStore::SeedDevice(const char* pszPath, const DeviceFields& fields)
{
    return Store(pszPath, fields, true);
}

bool CDeviceInfoStore::Store(const char* pszPath, const DeviceFields& fields, bool bSeeded)
{
    Trace(3, "CDeviceInfoStore::AddVolume(%s)", pszPath);
    int index = FindVolume(pszPath);
    if (index == -1) index = GetFreeIndex();
    if (index == -1) {
        Trace(3, " no free idx");
        return false;
    }
    DeviceRecord& record = m_records[index];
    CopyText(record.szDevicePath, pszPath);
    CopyText(record.szService, fields.szService);
    CopyText(record.szTypeName, fields.szTypeName);
    CopyText(record.szFriendlyName, fields.szFriendlyName);
    CopyText(record.szDeviceDesc, fields.szDeviceDesc);
    CopyText(record.szMfg, fields.szMfg);
    CopyText(record.szInstanceId, fields.szInstanceId);
    record.capabilities = fields.capabilities;
    record.bSeeded = bSeeded;
    record.bFirstSeen = false;
    return true;
}

int CDeviceInfoStore::ReleaseAbsent(PresenceTest pfnIsPresent, void* pContext)
{
    int released = 0;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        if (m_records[i].szDevicePath[0] == '\0' || pfnIsPresent(pContext, m_records[i].szDevicePath)) continue;
        Trace(1, "CDeviceInfoStore: %s is gone without its removal", m_records[i].szDevicePath);
        RemoveVolume(i);
        ++released;
    }
    return released;
}

void CDeviceInfoStore::RemoveVolume(int index)
{
    Trace(3, "CDeviceInfoStore::RemoveVolume[i]");
    if (index < 0 || index >= DEVICE_STORE_SLOTS) return;
    std::memset(&m_records[index], 0, sizeof m_records[index]);
}

int CDeviceInfoStore::GetFreeIndex() const
{
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        if (m_records[i].szDevicePath[0] == '\0') return i;
    }
    return -1;
}

void CDeviceInfoStore::FieldsOf(int index, DeviceFields& fields) const
{
    const DeviceRecord& record = m_records[index];
    CopyText(fields.szService, record.szService);
    CopyText(fields.szTypeName, record.szTypeName);
    CopyText(fields.szFriendlyName, record.szFriendlyName);
    CopyText(fields.szDeviceDesc, record.szDeviceDesc);
    CopyText(fields.szMfg, record.szMfg);
    CopyText(fields.szInstanceId, record.szInstanceId);
    fields.capabilities = record.capabilities;
}

int CDeviceInfoStore::FindVolume(const char* pszPath) const
{
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        // A free slot holds nothing but its empty first character: comparing
        // the rest would read stale or uninitialised text.
        const DeviceRecord& record = m_records[i];
        if (record.szDevicePath[0] != '\0' && EqualsIgnoreAsciiCase(record.szDevicePath, pszPath)) return i;
    }
    return -1;
}

bool CDeviceInfoStore::HoldsInstanceId(const char* pszInstanceId) const
{
    return FindInstanceId(pszInstanceId) != -1;
}

int CDeviceInfoStore::FindInstanceId(const char* pszInstanceId) const
{
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        const DeviceRecord& record = m_records[i];
        if (record.szDevicePath[0] != '\0' && EqualsIgnoreAsciiCase(record.szInstanceId, pszInstanceId)) return i;
    }
    return -1;
}

int CDeviceInfoStore::FindOnlyByUsbIds(const char* pszVendorId, const char* pszProductId) const
{
    if (pszVendorId[0] == '\0' || pszProductId[0] == '\0') return -1;
    int found = -1;
    UsbIdentity identity;
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        const DeviceRecord& record = m_records[i];
        if (record.szDevicePath[0] == '\0') continue;
        ParseUsbIdentity(record.szInstanceId, record.capabilities, identity);
        if (!EqualsIgnoreAsciiCase(identity.szVendorId, pszVendorId) ||
            !EqualsIgnoreAsciiCase(identity.szProductId, pszProductId))
            continue;
        if (found != -1) return -1;
        found = i;
    }
    return found;
}

void CDeviceInfoStore::NoteFirstSeen(const char* pszPath)
{
    const int index = FindVolume(pszPath);
    if (index != -1) m_records[index].bFirstSeen = true;
}

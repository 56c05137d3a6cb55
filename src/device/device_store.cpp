#include "device/device_store.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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
    return Store(pszPath, fields.szService, fields.szTypeName, fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg,
                 fields.szInstanceId, false);
}

bool CDeviceInfoStore::AddVolume(const char* pszPath, const char* pszService, const char* pszTypeName,
                                 const char* pszFriendlyName, const char* pszDeviceDesc, const char* pszMfg)
{
    return Store(pszPath, pszService, pszTypeName, pszFriendlyName, pszDeviceDesc, pszMfg, "", false);
}

bool CDeviceInfoStore::SeedDevice(const char* pszPath, const DeviceFields& fields)
{
    return Store(pszPath, fields.szService, fields.szTypeName, fields.szFriendlyName, fields.szDeviceDesc, fields.szMfg,
                 fields.szInstanceId, true);
}

bool CDeviceInfoStore::Store(const char* pszPath, const char* pszService, const char* pszTypeName,
                             const char* pszFriendlyName, const char* pszDeviceDesc, const char* pszMfg,
                             const char* pszInstanceId, bool bSeeded)
{
    Trace(3, "CDeviceInfoStore::AddVolume(%s)", pszPath);
    int index = Find(pszPath, true);
    if (index == -1) index = GetFreeIndex();
    if (index == -1) {
        Trace(3, " no free idx");
        return false;
    }
    DeviceRecord& record = m_records[index];
    CopyText(record.szDevicePath, pszPath);
    CopyText(record.szService, pszService);
    CopyText(record.szTypeName, pszTypeName);
    CopyText(record.szFriendlyName, pszFriendlyName);
    CopyText(record.szDeviceDesc, pszDeviceDesc);
    CopyText(record.szMfg, pszMfg);
    CopyText(record.szInstanceId, pszInstanceId);
    record.bSeeded = bSeeded;
    return true;
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
}

int CDeviceInfoStore::FindVolume(const char* pszPath) const
{
    return Find(pszPath, false);
}

int CDeviceInfoStore::Find(const char* pszPath, bool bSeededOnly) const
{
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        // A free slot holds nothing but its empty first character: comparing
        // the rest would read stale or uninitialised text.
        const DeviceRecord& record = m_records[i];
        if (record.szDevicePath[0] != '\0' && (!bSeededOnly || record.bSeeded) &&
            EqualsIgnoreAsciiCase(record.szDevicePath, pszPath))
            return i;
    }
    return -1;
}

bool CDeviceInfoStore::HoldsInstanceId(const char* pszInstanceId) const
{
    return std::any_of(std::begin(m_records), std::end(m_records), [&](const DeviceRecord& record) {
        return record.szDevicePath[0] != '\0' && EqualsIgnoreAsciiCase(record.szInstanceId, pszInstanceId);
    });
}

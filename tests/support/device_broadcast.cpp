#include "support/device_broadcast.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>

std::vector<BYTE> InterfaceRecord(const GUID& classGuid, const std::string& path)
{
    const size_t cbPath = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    std::vector<BYTE> buffer(cbPath < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)
                                                                              : cbPath);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(buffer.data());
    record->dbcc_size = static_cast<DWORD>(buffer.size());
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = classGuid;
    std::memcpy(record->dbcc_name, path.c_str(), path.size() + 1);
    return buffer;
}

bool SendDeviceChange(HWND hwnd, WPARAM code, const void* pRecord, DWORD dwMs)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(hwnd, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(pRecord), SMTO_ABORTIFHUNG,
                               dwMs, &result) != 0;
}

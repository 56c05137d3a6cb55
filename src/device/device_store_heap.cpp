// The one store's memory. Kept apart from the store itself, which makes no
// platform calls.
#include <windows.h>

#include <new>

#include "device/device_store.h"

CDeviceInfoStore* CreateDeviceStore()
{
    // HeapAlloc answers a lack of memory with null, where the library's
    // operator new would bring its exception runtime into the executable.
    void* pMemory = HeapAlloc(GetProcessHeap(), 0, sizeof(CDeviceInfoStore));
    return pMemory != nullptr ? new (pMemory) CDeviceInfoStore : nullptr;
}

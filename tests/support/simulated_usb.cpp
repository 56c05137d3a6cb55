#include "support/simulated_usb.h"

#include <setupapi.h>

#include <cctype>
#include <stdexcept>
#include <vector>

const GUID kUsbDeviceInterfaceGuid = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kKeyboardInterfaceGuid = {
    0x884B96C3, 0x56EF, 0x11D1, {0xBC, 0x8C, 0x00, 0xA0, 0xC9, 0x14, 0x05, 0xDD}};

namespace {

const GUID kUsbClassGuid = {0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const GUID kAnyClass = {};
const GUID kKeyboardClassGuid = {0x4D36E96B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const char kUsbDeviceClassesKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{A5DCBF10-6530-11D2-901F-00C04FB951ED}\\";
const char kKeyboardDeviceClassesKey[] =
    "System\\CurrentControlSet\\Control\\DeviceClasses\\{884B96C3-56EF-11D1-BC8C-00A0C91405DD}\\";

struct DevInfoList {
    HDEVINFO h;
    explicit DevInfoList(const GUID& deviceClass = kUsbClassGuid)
        : h(SetupDiCreateDeviceInfoList(IsEqualGUID(deviceClass, kAnyClass) ? nullptr : &deviceClass, nullptr))
    {
    }
    ~DevInfoList()
    {
        if (h != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(h);
    }
};

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

void SetTextProperty(HDEVINFO h, SP_DEVINFO_DATA* data, DWORD prop, const std::string& value)
{
    if (value.empty()) return;
    if (!SetupDiSetDeviceRegistryPropertyA(h, data, prop, reinterpret_cast<const BYTE*>(value.c_str()),
                                           static_cast<DWORD>(value.size() + 1)))
        Fail("SetupDiSetDeviceRegistryPropertyA");
}

std::string ControlKeyOf(const std::string& classKey, const std::string& path)
{
    // \\?\usb#... is kept under ##?#usb#...\#\Control.
    return classKey + "##?#" + path.substr(4) + "\\#\\Control";
}

// Registers a device node of the class with its properties.
void CreateDeviceNode(DevInfoList& list, SP_DEVINFO_DATA& data, const UsbDeviceSpec& spec,
                      const GUID& deviceClass = kUsbClassGuid)
{
    data.cbSize = sizeof data;
    if (!SetupDiCreateDeviceInfoA(list.h, spec.instanceId.c_str(), &deviceClass, nullptr, nullptr, 0, &data))
        Fail("SetupDiCreateDeviceInfoA " + spec.instanceId);
    if (!SetupDiRegisterDeviceInfo(list.h, &data, 0, nullptr, nullptr, nullptr)) Fail("SetupDiRegisterDeviceInfo");
    SetTextProperty(list.h, &data, SPDRP_SERVICE, spec.service);
    SetTextProperty(list.h, &data, SPDRP_FRIENDLYNAME, spec.friendlyName);
    SetTextProperty(list.h, &data, SPDRP_DEVICEDESC, spec.deviceDesc);
    SetTextProperty(list.h, &data, SPDRP_MFG, spec.mfg);
    SetTextProperty(list.h, &data, SPDRP_LOCATION_INFORMATION, spec.location);
    // Windows sets the capabilities itself; Wine lets them be set as a property.
    const DWORD dwCapabilities = spec.capabilities.empty() ? 0 : std::stoul(spec.capabilities, nullptr, 16);
    if (!spec.capabilities.empty() && !SetupDiSetDeviceRegistryPropertyA(list.h, &data, SPDRP_CAPABILITIES,
                                                                         reinterpret_cast<const BYTE*>(&dwCapabilities),
                                                                         sizeof dwCapabilities))
        Fail("SetupDiSetDeviceRegistryPropertyA SPDRP_CAPABILITIES");
}

}  // namespace

void PlantRecordedDevice(const UsbDeviceSpec& spec, ULONGLONG ullFirstInstall, ULONGLONG ullLastArrival,
                         ULONGLONG ullLastRemoval)
{
    RemoveSimulatedDevice(spec.instanceId);
    DevInfoList list;
    SP_DEVINFO_DATA data = {};
    CreateDeviceNode(list, data, spec);
    struct PropertyKey {
        GUID fmtid;
        ULONG pid;
    };
    using SetProperty = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const PropertyKey*, ULONG, const BYTE*, DWORD, DWORD);
    const auto pfnSet = reinterpret_cast<SetProperty>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("setupapi.dll"), "SetupDiSetDevicePropertyW")));
    if (pfnSet == nullptr) Fail("GetProcAddress SetupDiSetDevicePropertyW");
    const GUID kDates = {0x83DA6326, 0x97A6, 0x4088, {0x94, 0x53, 0xA1, 0x92, 0x3F, 0x57, 0x3B, 0x29}};
    const ULONGLONG times[] = {ullFirstInstall, ullLastArrival, ullLastRemoval};
    for (ULONG i = 0; i < 3; ++i) {
        const PropertyKey key = {kDates, 101 + i};
        if (times[i] != 0 && !pfnSet(list.h, &data, &key, 0x10 /* DEVPROP_TYPE_FILETIME */,
                                     reinterpret_cast<const BYTE*>(&times[i]), sizeof times[i], 0))
            Fail("SetupDiSetDevicePropertyW");
    }
}

void RemoveSimulatedDevice(const std::string& instanceId)
{
    DevInfoList list(kAnyClass);  // keyboards too
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (SetupDiOpenDeviceInfoA(list.h, instanceId.c_str(), nullptr, 0, &data))
        SetupDiRemoveDevice(list.h, &data);
}

SimulatedUsbDevice::SimulatedUsbDevice(const UsbDeviceSpec& spec, const GUID& interfaceClass)
    : m_instanceId(spec.instanceId)
{
    const bool bKeyboard = IsEqualGUID(interfaceClass, kKeyboardInterfaceGuid);
    m_classKey = bKeyboard ? kKeyboardDeviceClassesKey : kUsbDeviceClassesKey;
    RemoveSimulatedDevice(spec.instanceId);

    const GUID& deviceClass = bKeyboard ? kKeyboardClassGuid : kUsbClassGuid;
    DevInfoList list(deviceClass);
    SP_DEVINFO_DATA data = {};
    CreateDeviceNode(list, data, spec, deviceClass);

    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    if (!SetupDiCreateDeviceInterfaceA(list.h, &data, &interfaceClass, nullptr, 0, &iface))
        Fail("SetupDiCreateDeviceInterfaceA");

    DWORD cbRequired = 0;
    SetupDiGetDeviceInterfaceDetailA(list.h, &iface, nullptr, 0, &cbRequired, nullptr);
    std::vector<char> buffer(cbRequired + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(list.h, &iface, detail, static_cast<DWORD>(buffer.size()), nullptr,
                                          nullptr))
        Fail("SetupDiGetDeviceInterfaceDetailA");
    m_path = detail->DevicePath;
    SetPresent(false);
}

SimulatedUsbDevice::SimulatedUsbDevice(const std::string& instanceId, const std::string& path)
    : m_instanceId(instanceId), m_path(path), m_classKey(kUsbDeviceClassesKey), m_bKeep(true)
{
}

std::unique_ptr<SimulatedUsbDevice> SimulatedUsbDevice::OpenExisting(const std::string& instanceId)
{
    // Every USB device interface, present or not; the one whose device has
    // this instance id.
    HDEVINFO h = SetupDiGetClassDevsA(&kUsbDeviceInterfaceGuid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (h == INVALID_HANDLE_VALUE) Fail("SetupDiGetClassDevsA");
    std::string path;
    SP_DEVICE_INTERFACE_DATA iface = {};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; path.empty() && SetupDiEnumDeviceInterfaces(h, nullptr, &kUsbDeviceInterfaceGuid, i, &iface);
         ++i) {
        DWORD cbRequired = 0;
        SetupDiGetDeviceInterfaceDetailA(h, &iface, nullptr, 0, &cbRequired, nullptr);
        std::vector<char> buffer(cbRequired + sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiGetDeviceInterfaceDetailA(h, &iface, detail, static_cast<DWORD>(buffer.size()), nullptr, &data))
            continue;
        char szId[MAX_PATH];
        if (SetupDiGetDeviceInstanceIdA(h, &data, szId, sizeof szId, nullptr) &&
            lstrcmpiA(szId, instanceId.c_str()) == 0)
            path = detail->DevicePath;
    }
    SetupDiDestroyDeviceInfoList(h);
    if (path.empty()) throw std::runtime_error("no simulated device " + instanceId);
    return std::unique_ptr<SimulatedUsbDevice>(new SimulatedUsbDevice(instanceId, path));
}

SimulatedUsbDevice::~SimulatedUsbDevice()
{
    if (m_bKeep) return;
    // A destructor must not throw: a device that cannot be unplugged here is
    // replaced by the next test that makes one under the same id.
    try {
        SetPresent(false);
    } catch (const std::exception&) {
    }
    RemoveSimulatedDevice(m_instanceId);
}

void SimulatedUsbDevice::SetPresent(bool bPresent)
{
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, ControlKeyOf(m_classKey, m_path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &hKey, nullptr) != ERROR_SUCCESS)
        Fail("RegCreateKeyExA");
    const DWORD dwLinked = bPresent ? 1 : 0;
    const LONG rc = RegSetValueExA(hKey, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwLinked),
                                   sizeof dwLinked);
    RegCloseKey(hKey);
    if (rc != ERROR_SUCCESS) Fail("RegSetValueExA Linked");
}

std::string SimulatedUsbDevice::BroadcastPath() const
{
    std::string upper = m_path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// USB devices made through the real SetupDi of the test's Wine prefix: a
// device node with registry properties and a USB device interface, present or
// absent as a test plugs and unplugs it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

extern const GUID kUsbDeviceInterfaceGuid;
// A keyboard's interface: its device node is of the Keyboard class.
extern const GUID kKeyboardInterfaceGuid;

struct UsbDeviceSpec {
    std::string instanceId;  // e.g. USB\VID_0A0B&PID_1234\SN0001
    // Properties; an empty text leaves the property unset.
    std::string service;
    std::string friendlyName;
    std::string deviceDesc;
    std::string mfg;
    std::string location;
    std::string capabilities = "";  // SPDRP_CAPABILITIES in hex (CM_DEVCAP_*)
};

class SimulatedUsbDevice {
public:
    // Creates the device node and its interface, replacing any left from an
    // earlier run; the interface starts absent.
    explicit SimulatedUsbDevice(const UsbDeviceSpec& spec, const GUID& interfaceClass = kUsbDeviceInterfaceGuid);
    // Takes up a device node that an earlier process made and kept (see
    // Keep), with its interface as it is; throws when there is none.
    static std::unique_ptr<SimulatedUsbDevice> OpenExisting(const std::string& instanceId);
    ~SimulatedUsbDevice();
    SimulatedUsbDevice(const SimulatedUsbDevice&) = delete;
    SimulatedUsbDevice& operator=(const SimulatedUsbDevice&) = delete;

    // Leaves the device node in place when this object goes, so that a later
    // process can take it up again with OpenExisting.
    void Keep() { m_bKeep = true; }
    // Makes the interface present (or absent) for DIGCF_PRESENT enumeration.
    void SetPresent(bool bPresent);
    // The interface path as SetupDi reports it (lower case).
    const std::string& InterfacePath() const { return m_path; }
    // The path as the system's broadcasts carry it (upper case).
    std::string BroadcastPath() const;

private:
    SimulatedUsbDevice(const std::string& instanceId, const std::string& path);

    std::string m_instanceId;
    std::string m_path;
    std::string m_classKey;  // the interface class's key under DeviceClasses
    bool m_bKeep = false;
};

// A device node without an interface, as Windows keeps one of a device that
// was attached once: listed, never present. Its first install, last arrival
// and last removal (FILETIME ticks; 0 leaves one unset) are the device
// properties Windows records them in.
void PlantRecordedDevice(const UsbDeviceSpec& spec, ULONGLONG ullFirstInstall, ULONGLONG ullLastArrival,
                         ULONGLONG ullLastRemoval);

// Removes a device node left by an earlier run, if there is one.
void RemoveSimulatedDevice(const std::string& instanceId);

#include <gtest/gtest.h>

#include <string>

#include "device/device_info.h"
#include "device/volume_info.h"
#include "support/simulated_usb.h"

namespace {

struct Lookup {
    bool found = false;
    std::string path;  // the caller's path as the lookup left it
    DeviceFields fields = {};
    std::string report;  // what the lookup printed
};

Lookup LookUp(const std::string& path, const GUID& classGuid = kUsbDeviceInterfaceGuid)
{
    Lookup r;
    char buffer[DEVINFO_TEXT_SIZE + 64] = "";
    path.copy(buffer, sizeof buffer - 1);
    ::testing::internal::CaptureStdout();
    r.found = GetDeviceInfo(&classGuid, buffer, r.fields);
    fflush(stdout);
    r.report = ::testing::internal::GetCapturedStdout();
    r.path = buffer;
    return r;
}

UsbDeviceSpec Spec(const std::string& id, const std::string& service, const std::string& friendly,
                   const std::string& desc, const std::string& mfg, const std::string& location)
{
    return UsbDeviceSpec{id, service, friendly, desc, mfg, location};
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

}  // namespace

TEST(GetDeviceInfo, ReadsAStorageStickFoundByAMixedCasePath)
{
    SimulatedUsbDevice stick(Spec("USB\\VID_0781&PID_5567\\4C530001", "USBSTOR", "SanDisk Cruzer Blade",
                                  "USB Mass Storage Device", "Compatible USB storage device", "Port_#0001.Hub_#0004"));
    stick.SetPresent(true);

    const std::string mixed = "\\\\?\\USB#Vid_0781&Pid_5567#4c530001#{A5DCBF10-6530-11d2-901F-00C04FB951ED}";
    const Lookup r = LookUp(mixed);
    ASSERT_TRUE(r.found);
    EXPECT_STREQ("USBSTOR", r.fields.szService);
    EXPECT_STREQ("USB storage", r.fields.szTypeName);
    EXPECT_STREQ("SanDisk Cruzer Blade", r.fields.szFriendlyName) << "a friendly name wins over the location";
    EXPECT_STREQ("USB\\VID_0781&PID_5567\\4C530001", r.fields.szInstanceId)
        << "the device's own, not the lower-cased path";
    EXPECT_STREQ("USB Mass Storage Device", r.fields.szDeviceDesc);
    EXPECT_STREQ("Compatible USB storage device", r.fields.szMfg);
    EXPECT_EQ(stick.InterfacePath(), r.path) << "the caller's path is lower-cased in place";
}

TEST(GetDeviceInfo, MapsServicesToTypeLabelsCaseSensitively)
{
    SimulatedUsbDevice hub(Spec("USB\\ROOT_HUB20\\4&1D2A3B4C&0", "USBHUB", "", "USB Root Hub", "(Standard USB Host)",
                                "Port_#0002.Hub_#0001"));
    SimulatedUsbDevice reader(Spec("USB\\VID_076B&PID_3021\\5&2B0C&0&1", "USBCCID", "", "Smart card reader", "", ""));
    SimulatedUsbDevice vendor(Spec("USB\\VID_1234&PID_0001\\V1", "WinUSB", "", "Vendor device", "Vendor", ""));
    SimulatedUsbDevice lower(Spec("USB\\VID_1234&PID_0002\\V2", "usbstor", "", "Lower-case service", "", ""));
    SimulatedUsbDevice bare(Spec("USB\\VID_1234&PID_0003\\V3", "", "", "", "", ""));
    for (SimulatedUsbDevice* d : {&hub, &reader, &vendor, &lower, &bare}) d->SetPresent(true);

    Lookup r = LookUp(hub.BroadcastPath());
    ASSERT_TRUE(r.found);
    EXPECT_STREQ("USB hub", r.fields.szTypeName);
    EXPECT_STREQ("Port_#0002.Hub_#0001", r.fields.szFriendlyName)
        << "the location stands in for a missing friendly name";

    r = LookUp(reader.BroadcastPath());
    EXPECT_STREQ("USB smartcard", r.fields.szTypeName);
    EXPECT_STREQ("", r.fields.szFriendlyName) << "neither friendly name nor location";

    r = LookUp(vendor.BroadcastPath());
    EXPECT_STREQ("WinUSB", r.fields.szTypeName) << "a service without a label keeps its own name";

    r = LookUp(lower.BroadcastPath());
    EXPECT_STREQ("usbstor", r.fields.szTypeName);

    r = LookUp(bare.BroadcastPath());
    ASSERT_TRUE(r.found) << "found even with no properties at all";
    EXPECT_STREQ("", r.fields.szService);
    EXPECT_STREQ("", r.fields.szTypeName);
    EXPECT_STREQ("", r.fields.szDeviceDesc);
    EXPECT_STREQ("", r.fields.szMfg);
}

TEST(GetDeviceInfo, CutsLongValuesToTheirOutputs)
{
    const std::string longText(600, 'L');
    const std::string longService(40, 'S');
    SimulatedUsbDevice d(Spec("USB\\VID_1234&PID_0004\\LONG", longService, longText, longText, longText, ""));
    d.SetPresent(true);

    const Lookup r = LookUp(d.BroadcastPath());
    ASSERT_TRUE(r.found);
    EXPECT_EQ(std::string(DEVINFO_TEXT_SIZE - 1, 'L'), r.fields.szFriendlyName);
    EXPECT_EQ(std::string(DEVINFO_TEXT_SIZE - 1, 'L'), r.fields.szMfg);
    EXPECT_EQ(longService, r.fields.szService);
    EXPECT_EQ(std::string(DEVINFO_TYPENAME_SIZE - 1, 'S'), r.fields.szTypeName);
}

TEST(GetDeviceInfo, MissesADeviceThatIsNotPresent)
{
    SimulatedUsbDevice gone(Spec("USB\\VID_1234&PID_0005\\GONE", "USBSTOR", "Gone", "Gone", "Gone", ""));
    SimulatedUsbDevice other(Spec("USB\\VID_1234&PID_0006\\HERE", "USBSER", "Here", "Here", "Here", ""));
    other.SetPresent(true);

    const Lookup r = LookUp(gone.BroadcastPath());
    EXPECT_FALSE(r.found);
    EXPECT_STREQ("", r.fields.szService);
    EXPECT_STREQ("", r.fields.szTypeName);
    EXPECT_STREQ("", r.fields.szFriendlyName);
    EXPECT_STREQ("", r.fields.szDeviceDesc);
    EXPECT_STREQ("", r.fields.szMfg);
    // Every present interface was looked at and reported.
    EXPECT_EQ(1u, CountOf(r.report, "Device Number 0  hDevInfo="));
    EXPECT_EQ(0u, CountOf(r.report, "Device Number 1 "));
}

TEST(GetDeviceInfo, ReportsEachInterfaceUpToTheMatch)
{
    SimulatedUsbDevice a(Spec("USB\\VID_1234&PID_0007\\A", "USBSER", "A", "", "", ""));
    SimulatedUsbDevice b(Spec("USB\\VID_1234&PID_0008\\B", "USBSER", "B", "", "", ""));
    SimulatedUsbDevice c(Spec("USB\\VID_1234&PID_0009\\C", "USBSER", "C", "", "", ""));
    for (SimulatedUsbDevice* d : {&a, &b, &c}) d->SetPresent(true);

    const std::string separator = std::string(81, '-') + "\n";
    for (SimulatedUsbDevice* d : {&a, &b, &c}) {
        const Lookup r = LookUp(d->BroadcastPath());
        ASSERT_TRUE(r.found);
        const size_t looked = CountOf(r.report, separator);
        ASSERT_GE(looked, 1u);
        ASSERT_LE(looked, 3u);
        EXPECT_EQ(looked, CountOf(r.report, "Device Number "));
        // Numbered from 0, in order, each after its separator.
        for (size_t i = 0; i < looked; ++i)
            EXPECT_NE(std::string::npos,
                      r.report.find(separator + "Device Number " + std::to_string(i) + "  hDevInfo="))
                << r.report;
    }
}

TEST(GetDeviceInfo, ClassWithoutPresentInterfacesPrintsNothing)
{
    const GUID unused = {0x0BADF00D, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
    const Lookup r = LookUp("\\\\?\\usb#nothing", unused);
    EXPECT_FALSE(r.found);
    EXPECT_EQ("", r.report);
}

namespace {

// A stick behind a composite device's interface (1 to 3), and a disk on
// another bus whose tree holds no USB device (4 to 9). Index: device
// instance; 0: no parent.
const struct {
    DEVINST parent;
    const char* pszId;
} kTree[] = {
    {0, ""},
    {2, "USBSTOR\\DISK&VEN_SANDISK&PROD_CRUZER_BLADE&REV_1.00\\4C530001&0"},
    {3, "USB\\VID_0781&PID_5567&MI_00\\7&2A8F4D1&0&0000"},
    {9, "USB\\VID_0781&PID_5567\\4C530001"},
    {5, "SCSI\\DISK&VEN_ATA&PROD_SSD\\4&1A2B3C&0&000000"},
    {6, "PCI\\VEN_8086&DEV_2922&SUBSYS_00000000&REV_02\\3&21436425&0&FA"},
    {7, "ACPI\\PNP0A08\\0"},
    {8, "ACPI_HAL\\PNP0C08\\0"},
    {9, "ROOT\\ACPI_HAL\\0000"},
    {0, "HTREE\\ROOT\\0"},
};

CONFIGRET WINAPI TreeParent(PDEVINST pParent, DEVINST devInst, ULONG)
{
    if (devInst >= sizeof kTree / sizeof kTree[0] || kTree[devInst].parent == 0) return CR_NO_SUCH_DEVNODE;
    *pParent = kTree[devInst].parent;
    return CR_SUCCESS;
}

CONFIGRET WINAPI TreeId(DEVINST devInst, PSTR pszBuffer, ULONG cchBuffer, ULONG)
{
    lstrcpynA(pszBuffer, kTree[devInst].pszId, static_cast<int>(cchBuffer));
    return CR_SUCCESS;
}

}  // namespace

// Wine's device tree has no storage nodes: the walk up from a disk to its
// USB device is shown on a tree that the seam stands in for.
TEST(FindUsbAncestor, WalksFromADiskPastAnInterfaceToItsUsbDeviceAndNoFurther)
{
    pfnCM_Get_Parent = TreeParent;
    pfnCM_Get_Device_IDA = TreeId;
    char szId[DEVICE_ID_SIZE];
    EXPECT_TRUE(FindUsbAncestor(1, szId));
    EXPECT_STREQ("USB\\VID_0781&PID_5567\\4C530001", szId);
    EXPECT_FALSE(FindUsbAncestor(4, szId)) << "four levels up, no USB device";
    EXPECT_STREQ("", szId);
    pfnCM_Get_Parent = CM_Get_Parent;
    pfnCM_Get_Device_IDA = CM_Get_Device_IDA;
}

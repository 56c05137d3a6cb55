#include <gtest/gtest.h>

#include <string>

#include "device/device_identity.h"

namespace {

std::string Parsed(const char* pszInstanceId, const PnpCapabilities& capabilities = CAPABILITIES_UNKNOWN)
{
    UsbIdentity identity;
    ParseUsbIdentity(pszInstanceId, capabilities, identity);
    return std::string(identity.szVendorId) + "|" + identity.szProductId + "|" + identity.szSerial;
}

std::string Derived(const std::string& path)
{
    char szId[DEVICE_ID_SIZE] = "stale";
    InstanceIdFromInterfacePath(path.c_str(), szId);
    return szId;
}

}  // namespace

TEST(ParseUsbIdentity, TakesVendorProductAndASerialWindowsDidNotMakeUp)
{
    EXPECT_EQ("0A0B|1234|SN0001", Parsed("USB\\VID_0A0B&PID_1234\\SN0001"));
    EXPECT_EQ("0A0B|12CD|sn0001", Parsed("usb\\vid_0a0b&pid_12cd\\sn0001")) << "hex upper-cased, serial as is";
    EXPECT_EQ("05E3|0608|", Parsed("USB\\VID_05E3&PID_0608\\5&1A2B3C4D&0&1")) << "a made-up instance has '&'";
    EXPECT_EQ("045E|0745|", Parsed("USB\\VID_045E&PID_0745&MI_00\\7&2A8F4D1&0&0000"));
    // Only the device ID part counts, and only four hex digits.
    EXPECT_EQ("||VID_1234", Parsed("USB\\ROOT_HUB\\VID_1234"));
    EXPECT_EQ("||X", Parsed("USB\\VID_12345&PID_12G4\\X"));
    EXPECT_EQ("0A0B|1234|", Parsed("USB\\VID_0A0B&PID_1234")) << "no instance part, no serial";
    EXPECT_EQ("||", Parsed(""));
    EXPECT_EQ("||", Parsed("USB"));
    // Windows makes a serial up with '&' second; a serial of the device's
    // own may hold one elsewhere.
    EXPECT_EQ("0A0B|1234|AB&CD", Parsed("USB\\VID_0A0B&PID_1234\\AB&CD"));
    // Where the device's capabilities are known, they alone tell (CM_DEVCAP_UNIQUEID).
    EXPECT_EQ("0A0B|1234|S&N1", Parsed("USB\\VID_0A0B&PID_1234\\S&N1", {true, 0x84 | CAPABILITY_UNIQUE_ID}));
    EXPECT_EQ("0A0B|1234|", Parsed("USB\\VID_0A0B&PID_1234\\SN0001", {true, 0x84}));
}

TEST(IsRecordedUsbDevice, TakesUsbDevicesButNotTheirInterfacesNorRootHubs)
{
    EXPECT_TRUE(IsRecordedUsbDevice("USB\\VID_0781&PID_5567\\4C530001"));
    EXPECT_TRUE(IsRecordedUsbDevice("usb\\vid_05e3&pid_0608\\5&1a2b3c4d&0&1"));
    EXPECT_FALSE(IsRecordedUsbDevice("USB\\VID_046D&PID_C52B&MI_00\\7&2A8F4D1&0&0000"));
    EXPECT_FALSE(IsRecordedUsbDevice("USB\\ROOT_HUB20\\4&1A2B3C&0"));
    EXPECT_FALSE(IsRecordedUsbDevice("USBSTOR\\DISK&VEN_SANDISK\\4C530001&0"));
}

TEST(InstanceIdFromInterfacePath, TurnsTheInterfacePathBackIntoTheInstanceId)
{
    EXPECT_EQ("USB\\VID_0A0B&PID_1234\\SN0001",
              Derived("\\\\?\\USB#VID_0A0B&PID_1234#SN0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    EXPECT_EQ("USB\\VID_0A0B&PID_1234\\SN0001", Derived("\\\\?\\USB#VID_0A0B&PID_1234#SN0001"));
    EXPECT_EQ("", Derived("USB#VID_0A0B&PID_1234#SN0001#{guid}")) << "not an interface path";
    EXPECT_EQ("", Derived("\\\\?\\#{guid}"));
    const std::string longest(DEVICE_ID_SIZE - 1, 'A');
    EXPECT_EQ(longest, Derived("\\\\?\\" + longest + "#{guid}"));
    EXPECT_EQ("", Derived("\\\\?\\" + longest + "A#{guid}")) << "too long to be a device's ID";
}

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/device_store.h"
#include "device/keyboard.h"
#include "util/text.h"

namespace {

std::string PathOf(int i)
{
    return "\\\\?\\usb#vid_1234&pid_" + std::to_string(1000 + i) + "#sn#{guid}";
}

void Add(CDeviceInfoStore& store, const std::string& path, const char* service = "USBSTOR")
{
    ASSERT_TRUE(store.AddVolume(path.c_str(), service, "USB storage", "Stick", "Disk", "Maker"));
}

}  // namespace

TEST(DeviceStore, FillsAt200AndReusesTheLowestFreedSlot)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    EXPECT_EQ(0, store->GetFreeIndex());
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) Add(*store, PathOf(i));
    EXPECT_EQ(-1, store->GetFreeIndex());
    EXPECT_FALSE(store->AddVolume("\\\\?\\usb#extra", "S", "T", "F", "D", "M"));
    EXPECT_EQ(-1, store->FindVolume("\\\\?\\usb#extra"));

    store->RemoveVolume(store->FindVolume(PathOf(150).c_str()));
    store->RemoveVolume(store->FindVolume(PathOf(42).c_str()));
    EXPECT_EQ(42, store->GetFreeIndex());
    Add(*store, "\\\\?\\usb#new");
    EXPECT_EQ(42, store->FindVolume("\\\\?\\usb#new"));
    EXPECT_EQ(150, store->GetFreeIndex());
}

TEST(DeviceStore, FindIgnoresCaseAndAStoredPathKeepsItsSlot)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    Add(*store, "\\\\?\\usb#vid_0a0b&pid_1234#sn1#{a5dcbf10}");
    Add(*store, "\\\\?\\usb#other");
    Add(*store, "\\\\?\\USB#VID_0A0B&PID_1234#SN1#{A5DCBF10}");

    EXPECT_EQ(0, store->FindVolume("\\\\?\\USB#VID_0A0B&PID_1234#SN1#{A5DCBF10}"));
    EXPECT_EQ(2, store->GetFreeIndex());
    store->RemoveVolume(0);
    EXPECT_EQ(-1, store->FindVolume("\\\\?\\usb#vid_0a0b&pid_1234#sn1#{a5dcbf10}"));
}

TEST(DeviceStore, AnEmptyPathNeverMatchesAFreeSlot)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    EXPECT_EQ(-1, store->FindVolume(""));
    Add(*store, "\\\\?\\usb#a");
    store->RemoveVolume(0);
    EXPECT_EQ(-1, store->FindVolume(""));
    EXPECT_EQ(-1, store->FindVolume("\\\\?\\usb#a"));
}

TEST(DeviceStore, RemoveClearsTheWholeSlot)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    Add(*store, "\\\\?\\usb#a");
    store->RemoveVolume(0);
    const DeviceRecord& record = store->Record(0);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof record; ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;
}

TEST(DeviceStore, CutsLongTextToEachField)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    const std::string longPath(400, 'p');
    const std::string longText(259, 't');
    ASSERT_TRUE(store->AddVolume(longPath.c_str(), longText.c_str(), longText.c_str(), longText.c_str(),
                                 longText.c_str(), longText.c_str()));
    const DeviceRecord& record = store->Record(0);
    EXPECT_EQ(std::string(DEVICE_PATH_SIZE - 1, 'p'), record.szDevicePath);
    EXPECT_EQ(std::string(RECORD_SERVICE_SIZE - 1, 't'), record.szService);
    EXPECT_EQ(std::string(RECORD_TYPENAME_SIZE - 1, 't'), record.szTypeName);
    EXPECT_EQ(std::string(RECORD_TEXT_SIZE - 1, 't'), record.szFriendlyName);
    EXPECT_EQ(std::string(RECORD_TEXT_SIZE - 1, 't'), record.szDeviceDesc);
    EXPECT_EQ(std::string(RECORD_TEXT_SIZE - 1, 't'), record.szMfg);
    // The slot after it is untouched and still free.
    EXPECT_EQ(1, store->GetFreeIndex());
}

// A keyboard joins the one attached device of the vendor and product its
// HID ID names: none, or two of them, join nothing. Whether it is new:
// its USB device's first sighting with this attachment, else its own ID.
TEST(Keyboard, JoinsTheOnlyUsbDeviceOfItsIdsAndIsNewAsThatDeviceWas)
{
    auto store = std::make_unique<CDeviceInfoStore>();
    DeviceFields fields = {};
    CopyText(fields.szInstanceId, "USB\\VID_046D&PID_C31C\\6&1&0&1");
    ASSERT_TRUE(store->AddDevice("\\\\?\\usb#kb1", fields));
    CopyText(fields.szInstanceId, "USB\\VID_0781&PID_5567\\4C530001");
    ASSERT_TRUE(store->AddDevice("\\\\?\\usb#stick", fields));
    UsbIdentity keyboard;
    ParseUsbIdentity("HID\\VID_046D&PID_C31C&MI_00&Col01\\7&2A8F4D1&0&0000", CAPABILITIES_UNKNOWN, keyboard);
    EXPECT_EQ(0, store->FindOnlyByUsbIds(keyboard.szVendorId, keyboard.szProductId));
    EXPECT_EQ(-1, store->FindOnlyByUsbIds("5E5E", "0001"));
    EXPECT_EQ(-1, store->FindOnlyByUsbIds("", "")) << "a Bluetooth keyboard's ID names no USB IDs";
    CopyText(fields.szInstanceId, "USB\\VID_046D&PID_C31C\\6&2&0&2");
    ASSERT_TRUE(store->AddDevice("\\\\?\\usb#kb2", fields));
    EXPECT_EQ(-1, store->FindOnlyByUsbIds(keyboard.szVendorId, keyboard.szProductId)) << "two of them";

    store->NoteFirstSeen("\\\\?\\USB#KB1");
    EXPECT_TRUE(store->Record(0).bFirstSeen);
    ASSERT_TRUE(store->AddDevice("\\\\?\\usb#kb1", fields));
    EXPECT_FALSE(store->Record(0).bFirstSeen) << "a new attachment of the same path";

    EXPECT_TRUE(IsNewKeyboard(true, true, true));
    EXPECT_FALSE(IsNewKeyboard(true, false, false)) << "its USB device decides";
    EXPECT_TRUE(IsNewKeyboard(false, false, false));
    EXPECT_FALSE(IsNewKeyboard(false, true, true));
}

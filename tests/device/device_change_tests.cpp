#include <gtest/gtest.h>

#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_change.h"
#include "device/device_info.h"
#include "log/device_log.h"
#include "log/trace.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

namespace {

// A broadcast record as the system builds it: the name ends the record.
std::vector<char> InterfaceRecord(const std::string& path, const GUID& classGuid = kUsbDeviceInterfaceGuid)
{
    const size_t cb = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + path.size() + 1;
    std::vector<char> bytes(cb, 0);
    auto* rec = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(bytes.data());
    rec->dbcc_size = static_cast<DWORD>(cb);
    rec->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    rec->dbcc_classguid = classGuid;
    std::memcpy(rec->dbcc_name, path.c_str(), path.size() + 1);
    return bytes;
}

void Send(DWORD code, std::vector<char> record)
{
    OnDeviceChange(code, reinterpret_cast<LPARAM>(record.data()));
}

void Arrive(const std::string& path)
{
    Send(DBT_DEVICEARRIVAL, InterfaceRecord(path));
}

void Remove(const std::string& path)
{
    Send(DBT_DEVICEREMOVECOMPLETE, InterfaceRecord(path));
}

// The message part of each device log line, behind date and time.
std::vector<std::string> LoggedMessages()
{
    std::vector<std::string> messages;
    for (const std::string& line : ReadLines(DEVICE_LOG_PATH)) {
        const size_t p = line.find("  ");
        messages.push_back(p == std::string::npos ? line : line.substr(p + 2));
    }
    return messages;
}

using Messages = std::vector<std::string>;

const char kStickAttached[] = "USB storage device attached: 'Stick' / 'Mass Storage' / 'Maker'";
const char kStickRemoved[] = "USB storage device removed: 'Stick' / 'Mass Storage' / 'Maker'";

class DeviceChangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteIfPresent(DEVICE_LOG_PATH);
        DeleteIfPresent(TRACE_LOG_PATH);
        m_store = std::make_unique<CDeviceInfoStore>();
        pDeviceStore = m_store.get();
        cLastArrival = 0;
        szLastDevicePath[0] = '\0';
    }
    void TearDown() override
    {
        pDeviceStore = nullptr;
        bTraceToFile = 0;
        DeleteIfPresent(DEVICE_LOG_PATH);
        DeleteIfPresent(TRACE_LOG_PATH);
    }

    SimulatedUsbDevice& Stick()
    {
        if (!m_stick) {
            m_stick = std::make_unique<SimulatedUsbDevice>(UsbDeviceSpec{
                "USB\\VID_0781&PID_5567\\STICK1", "USBSTOR", "Stick", "Mass Storage", "Maker", ""});
            m_stick->SetPresent(true);
        }
        return *m_stick;
    }

    int InUse() const
    {
        int n = 0;
        for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) n += m_store->Record(i).szDevicePath[0] != '\0';
        return n;
    }

    std::unique_ptr<CDeviceInfoStore> m_store;
    std::unique_ptr<SimulatedUsbDevice> m_stick;
};

}  // namespace

TEST_F(DeviceChangeTest, LogsAttachAndRemoveAndFreesTheRecord)
{
    const std::string path = Stick().BroadcastPath();
    Arrive(path);
    ASSERT_EQ(0, m_store->FindVolume(path.c_str()));
    EXPECT_STREQ(Stick().InterfacePath().c_str(), m_store->Record(0).szDevicePath) << "stored as the lookup left it";
    Remove(path);

    EXPECT_EQ(Messages({kStickAttached, kStickRemoved}), LoggedMessages());
    EXPECT_EQ(0, InUse());
}

TEST_F(DeviceChangeTest, DropsExactRepeatsOnly)
{
    const std::string path = Stick().BroadcastPath();
    Arrive(path);
    Arrive(path);
    Remove(path);
    Remove(path);
    Arrive(path);
    EXPECT_EQ(Messages({kStickAttached, kStickRemoved, kStickAttached}), LoggedMessages());
    EXPECT_EQ(1, InUse());

    // The repeat test counts case: a path differing only in case is new,
    // but the store finds the record of its path whatever the case.
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    Arrive(lower);
    EXPECT_EQ(1, InUse());
    Remove(path);
    EXPECT_EQ(0, InUse());
    EXPECT_EQ(4u + 1u, LoggedMessages().size());
}

// A's removal was missed: its next arrival takes its old slot, and the one
// removal frees it.
TEST_F(DeviceChangeTest, ArrivalsABAKeepOneSlotForA)
{
    SimulatedUsbDevice b(UsbDeviceSpec{"USB\\VID_067B&PID_2303\\SER1", "USBSER", "Prolific", "Serial", "Prolific", ""});
    b.SetPresent(true);
    const std::string a = Stick().BroadcastPath();
    Arrive(a);
    Arrive(b.BroadcastPath());
    Arrive(a);
    EXPECT_EQ(2, InUse());
    EXPECT_EQ(0, m_store->FindVolume(a.c_str()));

    Remove(a);
    EXPECT_EQ(-1, m_store->FindVolume(a.c_str()));
    EXPECT_EQ(Messages({kStickAttached, "USB serial device attached: 'Prolific' / 'Serial' / 'Prolific'",
                        kStickAttached, kStickRemoved}),
              LoggedMessages());
}

// A full store: the devices that went without their removal give up their
// slots, the present stick keeps its own, and the arrival is stored.
TEST_F(DeviceChangeTest, AFullStoreGivesUpTheSlotsOfDevicesThatAreGone)
{
    for (int i = 0; i < DEVICE_STORE_SLOTS; ++i) {
        const std::string path = i == 0 ? Stick().InterfacePath() : "\\\\?\\usb#filler#" + std::to_string(i);
        ASSERT_TRUE(m_store->AddVolume(path.c_str(), "S", "T", "F", "D", "M"));
    }
    SimulatedUsbDevice b(UsbDeviceSpec{"USB\\VID_067B&PID_2303\\SER1", "USBSER", "Prolific", "Serial", "Prolific", ""});
    b.SetPresent(true);
    Arrive(b.BroadcastPath());
    EXPECT_EQ(2, InUse());
    EXPECT_EQ(1, m_store->FindVolume(b.BroadcastPath().c_str()));
}

TEST_F(DeviceChangeTest, TheSeedStoresWhatFitsSilentlyAndTheRemovalsOfThoseAreLogged)
{
    std::vector<std::unique_ptr<SimulatedUsbDevice>> present;
    for (int i = 0; i <= DEVICE_STORE_SLOTS; ++i) {
        present.push_back(std::make_unique<SimulatedUsbDevice>(UsbDeviceSpec{
            "USB\\VID_0781&PID_5567\\SEED" + std::to_string(i), "USBSTOR", "Stick", "Mass Storage", "Maker", ""}));
        present.back()->SetPresent(true);
    }
    ::testing::internal::CaptureStdout();
    SeedDeviceStore(*m_store);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout()) << "no enumeration report";
    EXPECT_EQ(DEVICE_STORE_SLOTS, InUse());
    // A seeded record keeps its device's instance ID for the removal's event.
    int withId = 0;
    for (int i = 0; i < 2; ++i) {
        const int index = m_store->FindVolume(present[i]->InterfacePath().c_str());
        if (index < 0) continue;
        EXPECT_EQ("USB\\VID_0781&PID_5567\\SEED" + std::to_string(i), m_store->Record(index).szInstanceId);
        ++withId;
    }
    EXPECT_GT(withId, 0);

    for (const auto& device : present) Remove(device->BroadcastPath());
    EXPECT_EQ(Messages(DEVICE_STORE_SLOTS, kStickRemoved), LoggedMessages()) << "one device found no slot";
    EXPECT_EQ(0, InUse());
}

// The system may announce a device that the seed has just stored, when it
// arrived between the window's registration and the seed: its arrival is
// logged as usual and takes the seeded record over, not a second slot.
TEST_F(DeviceChangeTest, AnArrivalOfASeededDeviceIsLoggedAndKeepsOneRecord)
{
    const std::string path = Stick().BroadcastPath();
    SeedDeviceStore(*m_store);
    Arrive(path);
    EXPECT_EQ(1, InUse());
    Remove(path);
    EXPECT_EQ(Messages({kStickAttached, kStickRemoved}), LoggedMessages());
    EXPECT_EQ(0, InUse());
}

TEST_F(DeviceChangeTest, KeepsTheSilentServiceOutOfTheLogOnly)
{
    SimulatedUsbDevice silent(UsbDeviceSpec{"USB\\VID_1234&PID_5678\\SILENT", "xUSBSTOR", "Quiet", "Quiet", "Q", ""});
    silent.SetPresent(true);
    Arrive(silent.BroadcastPath());
    EXPECT_EQ(1, InUse());
    Remove(silent.BroadcastPath());
    EXPECT_EQ(0, InUse());
    EXPECT_EQ(Messages(), LoggedMessages());
}

TEST_F(DeviceChangeTest, AnUnknownDeviceIsLoggedEmptyBothWays)
{
    SimulatedUsbDevice absent(UsbDeviceSpec{"USB\\VID_1234&PID_9999\\ABSENT", "USBSTOR", "X", "X", "X", ""});
    Arrive(absent.BroadcastPath());
    EXPECT_STREQ("USB\\VID_1234&PID_9999\\ABSENT", m_store->Record(0).szInstanceId) << "the ID its path gives";
    Remove(absent.BroadcastPath());
    EXPECT_EQ(Messages({" device attached: '' / '' / ''", " device removed: '' / '' / ''"}), LoggedMessages());
    EXPECT_EQ(0, InUse());
}

TEST_F(DeviceChangeTest, WithoutAStoreArrivalsAreLoggedAndRemovalsAreSilent)
{
    pDeviceStore = nullptr;
    const std::string path = Stick().BroadcastPath();
    Arrive(path);
    Remove(path);
    EXPECT_EQ(Messages({kStickAttached}), LoggedMessages());
}

TEST_F(DeviceChangeTest, DeviceNamesCannotSplitALine)
{
    SimulatedUsbDevice evil(UsbDeviceSpec{"USB\\VID_BAD0&PID_0001\\EVIL", "USBSTOR",
                                          "Evil\r\n01.01.2000 - 00:00:00  USB storage device removed: 'x'",
                                          "Desc\twith\x1b tab", "Mfg\x7f", ""});
    evil.SetPresent(true);
    Arrive(evil.BroadcastPath());
    Remove(evil.BroadcastPath());
    const Messages expected = {
        "USB storage device attached: 'Evil  01.01.2000 - 00:00:00  USB storage device removed: ''x''' / "
        "'Desc with  tab' / 'Mfg '",
        "USB storage device removed: 'Evil  01.01.2000 - 00:00:00  USB storage device removed: ''x''' / "
        "'Desc with  tab' / 'Mfg '"};
    EXPECT_EQ(expected, LoggedMessages());
}

TEST_F(DeviceChangeTest, OtherRecordsAndCodesOnlyTrace)
{
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = (1u << 4) | (1u << 5);
    DEV_BROADCAST_HANDLE handle = {};
    handle.dbch_size = sizeof handle;
    handle.dbch_devicetype = DBT_DEVTYP_HANDLE;
    handle.dbch_handle = reinterpret_cast<HANDLE>(0x1234);

    for (DWORD code : {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEQUERYREMOVE, DBT_CUSTOMEVENT}) {
        OnDeviceChange(code, reinterpret_cast<LPARAM>(&volume));
        OnDeviceChange(code, reinterpret_cast<LPARAM>(&handle));
    }
    // Codes that carry no record are never read, so 0 is harmless; the codes
    // that do carry one treat a missing record the same way.
    for (DWORD code : {0x0007u, 0x8000u, 0x8001u, 0x8002u, 0x8003u, 0x8004u, 0x8005u, 0x8006u, 0x0017u, 0xFFFFFFFFu})
        OnDeviceChange(code, 0);
    EXPECT_FALSE(FileExists(DEVICE_LOG_PATH));
    EXPECT_EQ(0, InUse());
}

TEST_F(DeviceChangeTest, MalformedInterfaceRecordsAreNotRead)
{
    const std::string path = Stick().BroadcastPath();

    // The name runs to the end of the record without a terminator.
    std::vector<char> unterminated = InterfaceRecord(path);
    unterminated.back() = 'X';
    Send(DBT_DEVICEARRIVAL, unterminated);

    // The record claims less than its type needs.
    std::vector<char> shortRecord = InterfaceRecord(path);
    reinterpret_cast<DEV_BROADCAST_HDR*>(shortRecord.data())->dbch_size = 8;
    Send(DBT_DEVICEARRIVAL, shortRecord);

    EXPECT_FALSE(FileExists(DEVICE_LOG_PATH));
    Arrive(path);
    EXPECT_EQ(Messages({kStickAttached}), LoggedMessages());
}

TEST_F(DeviceChangeTest, TracesTheDecodedEvents)
{
    bTraceToFile = 1;
    DEV_BROADCAST_VOLUME volume = {};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = (1u << 4) | (1u << 5);
    OnDeviceChange(DBT_DEVICEQUERYREMOVE, reinterpret_cast<LPARAM>(&volume));

    DEV_BROADCAST_HANDLE media = {};
    media.dbch_size = sizeof media;
    media.dbch_devicetype = DBT_DEVTYP_HANDLE;
    media.dbch_handle = reinterpret_cast<HANDLE>(0xBEEF);
    media.dbch_eventguid = {0xD07433C1, 0xA98E, 0x11D2, {0x91, 0x7A, 0x00, 0xA0, 0xC9, 0x06, 0x8F, 0xF3}};
    OnDeviceChange(DBT_CUSTOMEVENT, reinterpret_cast<LPARAM>(&media));
    OnDeviceChange(DBT_DEVNODES_CHANGED, 0);

    std::vector<std::string> messages;
    for (const std::string& line : ReadLines(TRACE_LOG_PATH)) messages.push_back(line.substr(line.find("):   ") + 5));
    const std::vector<std::string> expected = {
        "WM_DEVICE_CHANGE",
        "DBT_DEVICEQUERYREMOVE / DBT_DEVTYP_VOLUME drives=EF",
        "DBT_DEVICEARRIVAL wParam=00008001",
        "WM_DEVICE_CHANGE",
        "DBT_CUSTOMEVENT  dbh->dbch_devicetype=6",
        " DBT_DEVTYP_HANDLE GUID_IO_MEDIA_REMOVAL hnd=0000BEEF",
        "WM_DEVICE_CHANGE",
        "DBT_DEVNODES_CHANGED",
    };
    EXPECT_EQ(expected, messages);
}

TEST(DriveMaskToLetters, ListsDrivesAToZInOrder)
{
    char letters[DRIVE_LETTERS_SIZE];
    EXPECT_EQ(2, DriveMaskToLetters((1u << 5) | (1u << 4), letters));
    EXPECT_STREQ("EF", letters);
    EXPECT_EQ(0, DriveMaskToLetters(0, letters));
    EXPECT_STREQ("", letters);
    EXPECT_EQ(0, DriveMaskToLetters(0xFC000000u, letters));
    EXPECT_STREQ("", letters);
    EXPECT_EQ(26, DriveMaskToLetters(0xFFFFFFFFu, letters));
    EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ", letters);
}

TEST(GuidEquals, DiffersInAnySingleByte)
{
    const GUID base = kUsbDeviceInterfaceGuid;
    EXPECT_TRUE(GuidEquals(&base, &base));
    for (size_t i = 0; i < sizeof(GUID); ++i) {
        GUID other = base;
        reinterpret_cast<unsigned char*>(&other)[i] ^= 0x01;
        EXPECT_FALSE(GuidEquals(&base, &other)) << "byte " << i;
    }
}

// The store comes from the process heap, constructed: every slot is free even
// where the heap hands back memory that held other data.
TEST(CreateDeviceStore, ConstructsTheStoreOnTheProcessHeap)
{
    const HANDLE hHeap = GetProcessHeap();
    void* pUsed = HeapAlloc(hHeap, 0, sizeof(CDeviceInfoStore));
    ASSERT_NE(pUsed, nullptr);
    std::memset(pUsed, 'x', sizeof(CDeviceInfoStore));
    HeapFree(hHeap, 0, pUsed);

    CDeviceInfoStore* pStore = CreateDeviceStore();
    ASSERT_NE(pStore, nullptr);
    EXPECT_EQ(HeapSize(hHeap, 0, pStore), sizeof(CDeviceInfoStore));
    int stored = 0;
    while (pStore->AddVolume(("\\\\?\\usb#" + std::to_string(stored)).c_str(), "", "", "", "", "")) ++stored;
    EXPECT_EQ(stored, DEVICE_STORE_SLOTS);
    HeapFree(hHeap, 0, pStore);
}

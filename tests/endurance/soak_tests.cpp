// A thousand device events through the running service's window: once it is
// warm, the service must hold no more handles and no more private memory
// after them than before.
#include <windows.h>

#include <dbt.h>

#include <gtest/gtest.h>

#include <vector>

#include "endurance/installed_service.h"
#include "support/device_broadcast.h"
#include "support/simulated_usb.h"

namespace {

constexpr int kWarmUpEvents = 100;
constexpr int kSoakEvents = 1000;
// Heap pages that a warm process may still commit once, e.g. when the
// allocator rounds up a block it had reserved earlier. A leak of even one
// small block per event (1,000 events) exceeds it.
constexpr SIZE_T kMemorySlack = 64 * 1024;

class Soak : public InstalledServiceTest {};

TEST_F(Soak, HandlesAndPrivateMemoryComeBackAfterAThousandEvents)
{
    SimulatedUsbDevice stick(StorageStickSpec("USB\\VID_0781&PID_5567\\50AC0001", "Stick one"));
    SimulatedUsbDevice other(StorageStickSpec("USB\\VID_0781&PID_5567\\50AC0002", "Stick two"));
    stick.SetPresent(true);
    other.SetPresent(true);
    const std::vector<BYTE> records[] = {InterfaceRecord(kUsbDeviceInterfaceGuid, stick.BroadcastPath()),
                                         InterfaceRecord(kUsbDeviceInterfaceGuid, other.BroadcastPath())};
    // The two sticks take turns at coming and going, each event a lookup or
    // a removal that is logged.
    auto play = [&](int events) {
        for (int i = 0; i < events / 2; ++i) {
            const std::vector<BYTE>& record = records[i % 2];
            if (!SendDeviceChange(m_hwnd, DBT_DEVICEARRIVAL, record.data())) return false;
            if (!SendDeviceChange(m_hwnd, DBT_DEVICEREMOVECOMPLETE, record.data())) return false;
        }
        return true;
    };

    ASSERT_TRUE(play(kWarmUpEvents));
    ProcessUsage before;
    ASSERT_TRUE(m_process->Read(before));
    DeleteIfPresent(kDeviceLog);

    ASSERT_TRUE(play(kSoakEvents));
    ProcessUsage after;
    ASSERT_TRUE(m_process->Read(after));

    EXPECT_EQ(ReadLines(kDeviceLog).size(), static_cast<size_t>(kSoakEvents));
    EXPECT_GT(before.handles, 0u);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_GT(before.privateBytes, 0u);
    EXPECT_LE(after.privateBytes, before.privateBytes + kMemorySlack)
        << "private bytes grew from " << before.privateBytes << " to " << after.privateBytes;
}

}  // namespace

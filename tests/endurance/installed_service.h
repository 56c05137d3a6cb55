// The real Plugtrail.exe installed and running as a service for the length of
// one test, its window found from outside and its process opened for
// querying. The service is removed again however the test ends.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "support/plugtrail_window.h"
#include "support/processes.h"
#include "support/service_process.h"
#include "support/simulated_usb.h"
#include "support/test_files.h"

constexpr char kDeviceLog[] = "C:\\_UsbDevices.log";

// A USB storage stick with every property a real one reports.
inline UsbDeviceSpec StorageStickSpec(const char* pszId, const char* pszFriendly)
{
    UsbDeviceSpec spec;
    spec.instanceId = pszId;
    spec.service = "USBSTOR";
    spec.friendlyName = pszFriendly;
    spec.deviceDesc = "USB Mass Storage Device";
    spec.mfg = "Compatible USB storage device";
    spec.location = "Port_#0001.Hub_#0001";
    return spec;
}

class InstalledServiceTest : public ::testing::Test {
protected:
    static DWORD RunPlugtrail(const char* pszOption)
    {
        ChildProcess child("..\\Plugtrail.exe", pszOption);
        return child.Started() ? child.Wait(30000) : 0xFFFFFFFF;
    }

    void SetUp() override
    {
        DeleteIfPresent(kDeviceLog);
        ASSERT_EQ(RunPlugtrail("-silentinstall"), 1u);
        m_hwnd = WaitForPlugtrailWindow(30000);
        ASSERT_NE(m_hwnd, nullptr);
        m_process = std::make_unique<WatchedProcess>(ServiceProcessId("Plugtrail"));
        ASSERT_TRUE(m_process->Opened());
    }

    void TearDown() override
    {
        m_process.reset();
        EXPECT_EQ(RunPlugtrail("-silentuninstall"), 1u);
        DeleteIfPresent(kDeviceLog);
    }

    HWND m_hwnd = nullptr;
    std::unique_ptr<WatchedProcess> m_process;
};

// What the in-process benchmarks set up alike: simulated devices made
// present, and the product's run state opened beneath the bench's own key,
// so that its saves cost what they cost the service without touching an
// installed service's HKLM\SOFTWARE\Plugtrail.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "eventlog/known_devices.h"
#include "eventlog/run_state.h"
#include "support/simulated_usb.h"

constexpr char kBenchKey[] = "SOFTWARE\\PlugtrailBench";

// Makes devices of spec(0) to spec(count - 1) present; the last is the last
// enumerated.
template <typename SpecOf>
std::vector<std::unique_ptr<SimulatedUsbDevice>> MakePresent(int count, SpecOf specOf)
{
    std::vector<std::unique_ptr<SimulatedUsbDevice>> present;
    for (int i = 0; i < count; ++i) {
        present.push_back(std::make_unique<SimulatedUsbDevice>(specOf(i)));
        present.back()->SetPresent(true);
    }
    return present;
}

// Creates the bench's key and opens the run state (and, with bKnownDevices,
// the record of known devices) beneath it; the key, or null when it cannot
// be made. HKLM is mapped to the key for these opens only.
inline HKEY OpenRunStateBeneathBenchKey(bool bKnownDevices)
{
    HKEY hBench = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kBenchKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &hBench, nullptr) != ERROR_SUCCESS)
        return nullptr;
    if (RegOverridePredefKey(HKEY_LOCAL_MACHINE, hBench) != ERROR_SUCCESS) {
        RegCloseKey(hBench);
        return nullptr;
    }
    OpenRunState();
    if (bKnownDevices) OpenKnownDevices();
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    return hBench;
}

// What the benchmark driver and its floor windows agree on.
#pragma once

#include <windows.h>

constexpr char kFloorWindowClass[] = "PlugtrailBenchFloor";
constexpr char kAppendFloorTitle[] = "append floor";
constexpr char kLookupFloorTitle[] = "lookup floor";

// Kinds of platform call whose time the lookup floor keeps.
enum CallKind : unsigned {
    kCallClassDevs,    // SetupDiGetClassDevsA
    kCallEnum,         // SetupDiEnumDeviceInterfaces
    kCallDetailSize,   // SetupDiGetDeviceInterfaceDetailA, size query
    kCallDetail,       // SetupDiGetDeviceInterfaceDetailA
    kCallProperty,     // SetupDiGetDeviceRegistryPropertyA
    kCallDestroy,      // SetupDiDestroyDeviceInfoList
    kCallAppend,       // open, seek, write, close
    kCallKinds
};

constexpr UINT kMsgCallTime = WM_APP + 1;
constexpr UINT kMsgReset = WM_APP + 2;

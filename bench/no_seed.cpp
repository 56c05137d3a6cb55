// bench_unseeded's stand-in for the start-up seed: its start of monitoring is
// compiled with SeedDeviceStore named SkipSeedDeviceStore, so it calls this
// and is otherwise Plugtrail's own.
#include "device/device_info.h"

void SkipSeedDeviceStore(CDeviceInfoStore& /*store*/) {}

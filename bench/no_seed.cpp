// bench_unseeded's stand-in for the start-up seed: its notification window
// is compiled with SeedDeviceStore named SkipSeedDeviceStore, so the window
// calls this and is otherwise Plugtrail's own.
class CDeviceInfoStore;

void SkipSeedDeviceStore(CDeviceInfoStore& /*store*/) {}

// bench_unseeded's stand-in for the start-up seed: its main.cpp is compiled
// with SeedDeviceStore named SkipSeedDeviceStore, so WinMain calls this and
// is otherwise Plugtrail's own.
class CDeviceInfoStore;

void SkipSeedDeviceStore(CDeviceInfoStore& /*store*/) {}

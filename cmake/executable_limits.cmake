# What the shipped executable of each target must stay within, set once: the
# oldest Windows it must load on (a target of tests/harness/check-pe) and its
# largest size in bytes, a signature included. The build picks its own
# target's pair (PLUGTRAIL_ARCH) for the tests; scripts/release reads this
# file for both targets.
set(PLUGTRAIL_OLDEST_WINDOWS_x86 nt5.1-x86)
set(PLUGTRAIL_MAX_BYTES_x86 98304)
set(PLUGTRAIL_OLDEST_WINDOWS_x64 nt5.2-x64)
set(PLUGTRAIL_MAX_BYTES_x64 106496)

// The platform-free pieces of the log and trace lines.
#pragma once

#include <cstddef>
#include <cstdint>

// Trace prefixes show at most this many milliseconds since the previous line.
constexpr uint32_t TRACE_ELAPSED_CAP = 9999;

// Milliseconds between two tick counts, across a wrap of the 32-bit counter,
// capped for the trace prefix.
uint32_t TraceElapsed(uint32_t dwNowTick, uint32_t dwLastTick);

// Device names come from firmware and drivers. A control character among them
// (below 0x20, or DEL) would let a device split or forge a log line, so each
// becomes a space. Every other byte stays as it is.
void ReplaceControlChars(char* psz);

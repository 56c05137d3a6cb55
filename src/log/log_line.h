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

// A field of the device log line stands between single quotes, and a quote
// inside it is written twice (''), so that no device text can close its
// field early and make up fields of its own: a reader splits the line at the
// single quotes that are not doubled. Room for a device's text of 259
// characters with its first quotes doubled.
constexpr size_t QUOTED_FIELD_SIZE = 276;

// Writes src with every ' doubled into dst; text that does not fit is cut,
// never between the two quotes of a pair nor inside a character. Returns the
// length written.
size_t DoubleQuotesBounded(char* dst, size_t cchDst, const char* src);
template <size_t N>
inline size_t DoubleQuotes(char (&dst)[N], const char* src)
{
    static_assert(N > 0, "destination needs room for the terminator");
    return DoubleQuotesBounded(dst, N, src);
}

// What a run writes before its first line so that the line starts one of
// its own, given the last bytes of the device log (cbTail of them, at most
// two; none for an empty or new file): nothing after a line end, the LF of a
// CRLF cut after its CR, else CRLF. A run that ended mid-line otherwise
// glues the next run's first line to its fragment.
const char* LineEndRepair(const char* pTail, size_t cbTail);

// Adds two counts of lines without wrapping: a sum past 4,294,967,295 stays
// there, rather than coming round to a small count.
uint32_t AddCounts(uint32_t a, uint32_t b);

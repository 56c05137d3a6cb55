#include "log/log_line.h"

#include "util/text.h"

uint32_t TraceElapsed(uint32_t dwNowTick, uint32_t dwLastTick)
{
    const uint32_t elapsed = dwNowTick - dwLastTick;  // unsigned: absorbs the wrap
    return elapsed > TRACE_ELAPSED_CAP ? TRACE_ELAPSED_CAP : elapsed;
}

void ReplaceControlChars(char* psz)
{
    for (; *psz != '\0'; ++psz) {
        const unsigned char c = static_cast<unsigned char>(*psz);
        if (c < 0x20 || c == 0x7F) *psz = ' ';
    }
}

size_t DoubleQuotesBounded(char* dst, size_t cchDst, const char* src)
{
    size_t len = 0;
    for (; *src != '\0'; ++src) {
        const size_t cb = *src == '\'' ? 2 : 1;
        if (len + cb >= cchDst) {
            // A quote is never a byte of a longer character, so only the
            // character before the cut can be split.
            len = text_detail::WithoutSplitCharacter(dst, len);
            break;
        }
        dst[len++] = *src;
        if (cb == 2) dst[len++] = '\'';
    }
    dst[len] = '\0';
    return len;
}

const char* LineEndRepair(const char* pTail, size_t cbTail)
{
    if (cbTail == 0 || pTail[cbTail - 1] == '\n') return "";
    return pTail[cbTail - 1] == '\r' ? "\n" : "\r\n";
}

uint32_t AddCounts(uint32_t a, uint32_t b)
{
    return a > UINT32_MAX - b ? UINT32_MAX : a + b;
}

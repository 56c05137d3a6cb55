#include "util/text.h"

bool text_detail::abLeadByte[256];
bool text_detail::bUtf8 = false;

void SetLeadByteRanges(const unsigned char* pRanges, size_t cbRanges)
{
    for (bool& b : text_detail::abLeadByte) b = false;
    for (size_t i = 0; i + 1 < cbRanges && pRanges[i] != 0; i += 2) {
        for (unsigned c = pRanges[i]; c <= pRanges[i + 1]; ++c) text_detail::abLeadByte[c] = true;
    }
}

void SetUtf8CodePage(bool bUtf8CodePage)
{
    text_detail::bUtf8 = bUtf8CodePage;
}

bool EqualsIgnoreAsciiCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool StartsWithIgnoreAsciiCase(const char* psz, const char* pszPrefix)
{
    for (; *pszPrefix != '\0'; ++psz, ++pszPrefix) {
        if (LowerAscii(*psz) != LowerAscii(*pszPrefix)) return false;
    }
    return true;
}

void LowerAsciiInPlace(char* psz)
{
    for (; *psz != '\0'; ++psz) *psz = LowerAscii(*psz);
}

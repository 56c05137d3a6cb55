// Bounded text helpers. Every fixed character array in the program is filled
// through these: the destination's size comes from its type, the result is
// always terminated, and text that does not fit is cut, never inside a
// character of the ANSI code page: between the two bytes of a double-byte
// character, or inside the sequence of a UTF-8 one.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace text_detail {

// Lead bytes of the system's ANSI code page, all false for a single-byte one;
// bUtf8 where that code page is UTF-8. Set once at start-up
// (SetLeadByteRanges, SetUtf8CodePage), before any text is cut.
extern bool abLeadByte[256];
extern bool bUtf8;

// The length of the first len bytes of dst without a UTF-8 character whose
// sequence the cut has shortened. Bytes that are not UTF-8 are left alone.
inline size_t WithoutSplitUtf8Character(const char* dst, size_t len)
{
    constexpr size_t UTF8_MAX_BYTES = 4;
    size_t start = len;
    while (start > 0 && len - start < UTF8_MAX_BYTES && (static_cast<unsigned char>(dst[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0) return len;
    const unsigned char lead = static_cast<unsigned char>(dst[start - 1]);
    const size_t cbSequence = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return start - 1 + cbSequence > len ? start - 1 : len;
}

// The length of the first len bytes of dst without a character whose last
// bytes a cut has taken: an orphaned lead byte would swallow the character
// after it, the closing quote of a log field for one.
inline size_t WithoutSplitCharacter(const char* dst, size_t len)
{
    if (bUtf8) return WithoutSplitUtf8Character(dst, len);
    size_t i = 0;
    while (i < len) {
        if (!abLeadByte[static_cast<unsigned char>(dst[i])]) {
            ++i;
        } else {
            if (i + 1 == len) return i;
            i += 2;
        }
    }
    return len;
}

inline size_t CopyBounded(char* dst, size_t cchDst, const char* src)
{
    size_t i = 0;
    if (src != nullptr) {
        for (; i + 1 < cchDst && src[i] != '\0'; ++i) dst[i] = src[i];
        if (src[i] != '\0') i = WithoutSplitCharacter(dst, i);
    }
    dst[i] = '\0';
    return i;
}

inline size_t LengthBounded(const char* s, size_t cchMax)
{
    size_t i = 0;
    while (i < cchMax && s[i] != '\0') ++i;
    return i;
}

// The formatted text, cut to fit and always terminated; returns its length.
// On Windows this is msvcrt's own formatter: the C99 one that MinGW would
// link in its place is a third of the executable, and the program's formats
// need nothing it lacks. It leaves text cut at the count unterminated and
// answers -1, so the count leaves room for the terminator and the length is
// taken from what was written.
inline int FormatBounded(char* dst, size_t cchDst, const char* fmt, va_list args)
{
    dst[0] = '\0';
#ifdef _WIN32
    const bool bCut = _vsnprintf(dst, cchDst - 1, fmt, args) < 0;
#else
    const bool bCut = vsnprintf(dst, cchDst, fmt, args) >= static_cast<int>(cchDst);
#endif
    dst[cchDst - 1] = '\0';
    size_t len = LengthBounded(dst, cchDst - 1);
    if (bCut) {
        len = WithoutSplitCharacter(dst, len);
        dst[len] = '\0';
    }
    return static_cast<int>(len);
}

}  // namespace text_detail

// Copies src (null counts as empty) into dst; returns the characters copied.
template <size_t N>
inline size_t CopyText(char (&dst)[N], const char* src)
{
    static_assert(N > 0, "destination needs room for the terminator");
    return text_detail::CopyBounded(dst, N, src);
}

// Appends src behind the text already in dst.
template <size_t N>
inline size_t AppendText(char (&dst)[N], const char* src)
{
    const size_t used = text_detail::LengthBounded(dst, N - 1);
    return used + text_detail::CopyBounded(dst + used, N - used, src);
}

template <size_t N>
inline int FormatTextV(char (&dst)[N], const char* fmt, va_list args)
{
    return text_detail::FormatBounded(dst, N, fmt, args);
}

// printf into dst; returns the length of what was written.
template <size_t N>
inline int FormatText(char (&dst)[N], const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int n = FormatTextV(dst, fmt, args);
    va_end(args);
    return n;
}

// printf into dst, then the line end eol. A long line is cut before its line
// end, so a cut line still ends where it should.
template <size_t N>
inline int FormatLine(char (&dst)[N], const char* eol, const char* fmt, ...)
{
    const size_t cchEol = text_detail::LengthBounded(eol, N - 1);
    va_list args;
    va_start(args, fmt);
    const int n = text_detail::FormatBounded(dst, N - cchEol, fmt, args);
    va_end(args);
    return n + static_cast<int>(text_detail::CopyBounded(dst + n, N - n, eol));
}

// Takes the lead-byte ranges of the system's ANSI code page, as pairs of first
// and last byte ending in a pair of zeros (CPINFO::LeadByte, cbRanges bytes).
void SetLeadByteRanges(const unsigned char* pRanges, size_t cbRanges);
// Whether the system's ANSI code page is UTF-8 (CP_UTF8, which Windows 10
// 1903 on offers), whose characters take up to four bytes and which has no
// lead-byte ranges.
void SetUtf8CodePage(bool bUtf8CodePage);

// The ASCII letters' other case; every other byte stays as it is.
inline char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when both texts are equal with the case of ASCII letters ignored.
bool EqualsIgnoreAsciiCase(const char* a, const char* b);

// True when psz begins with pszPrefix, the case of ASCII letters ignored.
bool StartsWithIgnoreAsciiCase(const char* psz, const char* pszPrefix);

// Lower-cases the ASCII letters A to Z in place; every other byte stays.
void LowerAsciiInPlace(char* psz);

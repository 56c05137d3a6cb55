// The current local date and time as the device log and the trace write
// them: in the system locale's formats, whatever the user has set for
// himself. An empty text where the system cannot format them.
#pragma once

#include <windows.h>

#include <cstddef>

constexpr size_t DATETIME_SIZE = 64;

inline void FormatNowDate(char (&dst)[DATETIME_SIZE])
{
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, dst, DATETIME_SIZE) == 0)
        dst[0] = '\0';
}

inline void FormatNowTime(char (&dst)[DATETIME_SIZE])
{
    if (GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, LOCALE_NOUSEROVERRIDE, nullptr, nullptr, dst, DATETIME_SIZE) == 0)
        dst[0] = '\0';
}

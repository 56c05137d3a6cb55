// Lets the compiler check a printf-style function's format against its
// arguments.
#pragma once

// On Windows the text is formatted by msvcrt, whose formats ms_printf checks.
#if defined(__MINGW32__) && !defined(__clang__)
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg) __attribute__((format(ms_printf, fmtIndex, firstArg)))
#elif defined(__GNUC__)
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg) __attribute__((format(printf, fmtIndex, firstArg)))
#else
#define PLUGTRAIL_PRINTF(fmtIndex, firstArg)
#endif

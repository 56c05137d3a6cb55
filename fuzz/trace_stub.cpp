// The trace without its outputs: formats like the real one, writes nothing.
#include "log/trace.h"

#include <cstdarg>

#include "util/text.h"

void Trace(int /*level*/, const char* pszFormat, ...)
{
    char szMessage[4096];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szMessage, pszFormat, args);
    va_end(args);
}

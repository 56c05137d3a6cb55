// Builds device log lines from arbitrary field text: each field's quotes
// doubled, so that it reads back as a prefix of the text and never closes
// early; the line must stay one line, inside its buffer, ending in CRLF,
// with every printable byte kept.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "eventlog/event_text.h"
#include "log/log_line.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string field(reinterpret_cast<const char*>(data), size);
    field = field.substr(0, field.find('\0'));

    char szQuoted[QUOTED_FIELD_SIZE];
    const size_t cchQuoted = DoubleQuotes(szQuoted, field.c_str());
    if (cchQuoted != std::strlen(szQuoted)) std::abort();
    std::string undoubled;
    for (size_t i = 0; i < cchQuoted; ++i) {
        if (szQuoted[i] == '\'' && szQuoted[++i] != '\'') std::abort();  // a lone quote
        undoubled.push_back(szQuoted[i]);
    }
    if (field.compare(0, undoubled.size(), undoubled) != 0) std::abort();

    char szMessage[1024];
    FormatText(szMessage, "%s device %s: '%s' / '%s' / '%s'", "USB storage", "attached", szQuoted, szQuoted,
               szQuoted);
    std::string before = szMessage;
    ReplaceControlChars(szMessage);
    if (std::strlen(szMessage) != before.size()) std::abort();
    for (size_t i = 0; i < before.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(before[i]);
        const bool control = b < 0x20 || b == 0x7F;
        if (szMessage[i] != (control ? ' ' : before[i])) std::abort();
    }

    char szLine[1024];
    const int n = FormatLine(szLine, "\r\n", "%s - %s  %s", "07.12.2026", "06:16:37", szMessage);
    if (n <= 2 || static_cast<size_t>(n) != std::strlen(szLine) || n > 1023) std::abort();
    if (std::strcmp(szLine + n - 2, "\r\n") != 0) std::abort();
    const char* cr = std::strpbrk(szLine, "\r\n");
    if (cr != szLine + n - 2) std::abort();

    // The console user of an event, from any domain and user name.
    char szUser[CONSOLE_USER_SIZE];
    FormatConsoleUser(szUser, field.c_str(), field.c_str() + field.size() / 2);
    if (std::strlen(szUser) >= CONSOLE_USER_SIZE || (!field.empty() && szUser[0] == '\0' && field.size() > 1))
        std::abort();

    uint32_t now = 0, last = 0;
    std::memcpy(&now, data, size < 4 ? size : 4);
    if (size > 4) std::memcpy(&last, data + 4, size < 8 ? size - 4 : 4);
    if (TraceElapsed(now, last) > TRACE_ELAPSED_CAP) std::abort();
    return 0;
}

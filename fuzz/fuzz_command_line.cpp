// Splits arbitrary command lines: every token must lie inside the text, be
// non-empty and free of delimiters, and the first character must survive.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/command_line.h"
#include "util/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    const size_t length = std::strlen(line.data());
    const char first = line[0];

    LowerAsciiInPlace(line.data());
    const char lowered = line[0];
    char* cursor = line.data();
    while (char* token = NextToken(&cursor)) {
        if (token < line.data() || token >= line.data() + length) std::abort();
        if (*token == '\0' || std::strpbrk(token, "-/") != nullptr) std::abort();
        if (ParseOption(token) != Option::None && std::strlen(token) > 15) std::abort();
    }
    if (length > 0 && line[0] != lowered) std::abort();
    (void)first;
    return 0;
}

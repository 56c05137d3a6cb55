#include "app/command_line.h"

#include <cstring>

namespace {

bool IsDelimiter(char c)
{
    return c == '-' || c == '/';
}

struct OptionWord {
    const char* pszWord;
    Option option;
};

const OptionWord kOptionWords[] = {
    {"install", Option::Install},
    {"silentinstall", Option::SilentInstall},
    {"uninstall", Option::Uninstall},
    {"silentuninstall", Option::SilentUninstall},
    {"debug", Option::Debug},
    {"?", Option::Usage},
};

}  // namespace

char* NextToken(char** ppszCursor)
{
    char* p = *ppszCursor;
    while (IsDelimiter(*p)) ++p;
    if (*p == '\0') {
        *ppszCursor = p;
        return nullptr;
    }
    char* pszToken = p;
    while (*p != '\0' && !IsDelimiter(*p)) ++p;
    if (*p != '\0') *p++ = '\0';
    *ppszCursor = p;
    return pszToken;
}

Option ParseOption(const char* pszToken)
{
    for (const OptionWord& word : kOptionWords) {
        if (std::strcmp(pszToken, word.pszWord) == 0) return word.option;
    }
    return Option::None;
}

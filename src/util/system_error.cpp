#include "util/system_error.h"

#include <cstring>

#include "util/scoped_handle.h"
#include "util/text.h"

void SystemErrorText(DWORD dwError, char (&szText)[ERROR_TEXT_SIZE], ErrorTextEnd end)
{
    char* pszSystemText = nullptr;
    const DWORD cch = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, dwError, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<LPSTR>(&pszSystemText), 0, nullptr);
    ScopedLocalMem systemText(pszSystemText);
    if (cch == 0 || pszSystemText == nullptr) {
        FormatText(szText, "error %lu\r\n", dwError);
    } else {
        CopyText(szText, pszSystemText);
    }
    if (end == ErrorTextEnd::Kept) return;
    for (size_t len = std::strlen(szText);
         len > 0 && (szText[len - 1] == '\r' || szText[len - 1] == '\n' || szText[len - 1] == ' ');)
        szText[--len] = '\0';
}

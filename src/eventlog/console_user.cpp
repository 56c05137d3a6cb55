#include "eventlog/console_user.h"

#include <windows.h>

#include <wtsapi32.h>

namespace {

// A text of the session's, freed with WTSFreeMemory; null when not known.
class CSessionText {
public:
    CSessionText(DWORD dwSession, WTS_INFO_CLASS infoClass)
    {
        DWORD cb = 0;
        if (!WTSQuerySessionInformationA(WTS_CURRENT_SERVER_HANDLE, dwSession, infoClass, &m_psz, &cb))
            m_psz = nullptr;
    }
    ~CSessionText()
    {
        if (m_psz != nullptr) WTSFreeMemory(m_psz);
    }
    CSessionText(const CSessionText&) = delete;
    CSessionText& operator=(const CSessionText&) = delete;
    const char* get() const { return m_psz; }

private:
    char* m_psz = nullptr;
};

}  // namespace

void ReadConsoleUser(char (&szUser)[CONSOLE_USER_SIZE])
{
    szUser[0] = '\0';
    const DWORD dwSession = WTSGetActiveConsoleSessionId();
    if (dwSession == 0xFFFFFFFF) return;  // the console is being switched between sessions
    CSessionText user(dwSession, WTSUserName);
    CSessionText domain(dwSession, WTSDomainName);
    FormatConsoleUser(szUser, domain.get(), user.get());
}

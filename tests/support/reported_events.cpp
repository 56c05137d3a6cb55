#include "support/reported_events.h"

#include "eventlog/event_log.h"

namespace {

std::vector<ReportedEvent> g_reported;
int g_failures = 0;
int g_attempts = 0;

BOOL WINAPI Catch(HANDLE hSource, WORD wType, WORD wCategory, DWORD dwId, PSID pSid, WORD cStrings, DWORD dwData,
                  LPCSTR* apszStrings, LPVOID pData)
{
    ++g_attempts;
    if (g_failures > 0) {
        --g_failures;
        SetLastError(RPC_S_INVALID_BINDING);
        return FALSE;
    }
    ReportedEvent event{wType, dwId, std::vector<std::string>(apszStrings, apszStrings + cStrings), "", "", ""};
    for (std::string* common : {&event.run, &event.sequence, &event.user}) {
        if (event.strings.empty()) break;
        *common = event.strings.back();
        event.strings.pop_back();
    }
    g_reported.push_back(event);
    // On to the system as well: tests that read Wine's trace of the reports
    // see them there.
    return ReportEventA(hSource, wType, wCategory, dwId, pSid, cStrings, dwData, apszStrings, pData);
}

}  // namespace

ReportedEvents::ReportedEvents()
{
    g_reported.clear();
    g_failures = 0;
    g_attempts = 0;
    pfnReportEventA = Catch;
}

ReportedEvents::~ReportedEvents()
{
    pfnReportEventA = ReportEventA;
}

void ReportedEvents::FailNext(int n)
{
    g_failures = n;
}

int ReportedEvents::Attempts() const
{
    return g_attempts;
}

std::vector<ReportedEvent> ReportedEvents::Take()
{
    std::vector<ReportedEvent> taken;
    taken.swap(g_reported);
    return taken;
}

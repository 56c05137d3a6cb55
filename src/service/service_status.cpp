#include "service/service_status.h"

namespace {

bool IsPending(unsigned long dwState)
{
    return dwState == SERVICE_STATE_START_PENDING || dwState == SERVICE_STATE_STOP_PENDING;
}

// A state's place in a service's life; 0 for one that a run never reports
// (the paused states).
int Rank(unsigned long dwState)
{
    switch (dwState) {
    case SERVICE_STATE_NONE:
        return 0;
    case SERVICE_STATE_START_PENDING:
        return 1;
    case SERVICE_STATE_RUNNING:
        return 2;
    case SERVICE_STATE_STOP_PENDING:
        return 3;
    case SERVICE_STATE_STOPPED:
        return 4;
    default:
        return -1;
    }
}

}  // namespace

bool StatusMayFollow(unsigned long dwLast, unsigned long dwNext)
{
    const int last = Rank(dwLast);
    const int next = Rank(dwNext);
    if (last < 0 || next <= 0 || dwLast == SERVICE_STATE_STOPPED) return false;
    return next > last || (next == last && IsPending(dwNext));
}

unsigned long NextCheckPoint(unsigned long dwLast, unsigned long dwLastCheckPoint, unsigned long dwNext)
{
    if (!IsPending(dwNext)) return 0;
    return dwNext == dwLast ? dwLastCheckPoint + 1 : 1;
}

// The order in which a service's states may reach the service control
// manager: forward only, from START_PENDING through RUNNING and STOP_PENDING
// to STOPPED, and nothing after STOPPED, which may end the process at once.
// Several threads report (the service's, the control handler's), so a late
// report must never undo a later one. No platform calls: the states are the
// SCM's own numbers.
#pragma once

constexpr unsigned long SERVICE_STATE_NONE = 0;  // nothing reported yet
constexpr unsigned long SERVICE_STATE_STOPPED = 1;
constexpr unsigned long SERVICE_STATE_START_PENDING = 2;
constexpr unsigned long SERVICE_STATE_STOP_PENDING = 3;
constexpr unsigned long SERVICE_STATE_RUNNING = 4;

// True when dwNext may be reported after dwLast: the same pending state
// again (its progress), or a later one.
bool StatusMayFollow(unsigned long dwLast, unsigned long dwNext);

// The check point that goes with dwNext after dwLast was reported with
// dwLastCheckPoint: one more for the same pending state, 1 for a new one,
// and 0 for a state that is not pending.
unsigned long NextCheckPoint(unsigned long dwLast, unsigned long dwLastCheckPoint, unsigned long dwNext);

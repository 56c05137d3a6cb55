// The program's reports to the Application log, caught in process: while a
// ReportedEvents lives, every report the program makes is recorded here on
// its way to the system's ReportEventA (which under Wine keeps nothing and
// never fails). It can also make the next reports fail, as they do once the
// event log service has been restarted.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ReportedEvent {
    WORD wType;
    DWORD dwId;
    std::vector<std::string> strings;  // the event's own, without the three every event ends with
    std::string user;                   // the console user
    std::string sequence;
    std::string run;
};

class ReportedEvents {
public:
    ReportedEvents();
    ~ReportedEvents();
    ReportedEvents(const ReportedEvents&) = delete;
    ReportedEvents& operator=(const ReportedEvents&) = delete;

    // The next n reports fail with RPC_S_INVALID_BINDING.
    void FailNext(int n);
    // Every report tried, failed ones included.
    int Attempts() const;
    // The reports that succeeded, oldest first; taking them empties the list.
    std::vector<ReportedEvent> Take();
};

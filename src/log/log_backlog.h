// Finished device log lines that could not be written yet, oldest first. The
// storage is fixed: holding a line never costs a heap allocation.
#pragma once

#include <cstddef>

// One device log line, date, time and line end included.
constexpr size_t LOG_LINE_SIZE = 1024;
// How many lines wait for the file before new ones are counted as lost.
constexpr size_t LOG_BACKLOG_LINES = 256;

class CLogBacklog {
public:
    // All zeros, so a static instance can live in .bss.
    constexpr CLogBacklog() : m_lines(), m_first(0), m_count(0), m_lost(0) {}

    // Queues a copy of the line behind the others. When the backlog is full
    // the line is only counted as lost, and false comes back.
    bool Push(const char* pszLine);
    // The oldest line, or null when none waits.
    const char* Front() const;
    void Pop();
    size_t Count() const { return m_count; }
    // Lines that did not fit since the count was last taken.
    unsigned long Lost() const { return m_lost; }
    void ClearLost() { m_lost = 0; }

private:
    char m_lines[LOG_BACKLOG_LINES][LOG_LINE_SIZE];
    size_t m_first;
    size_t m_count;
    unsigned long m_lost;
};

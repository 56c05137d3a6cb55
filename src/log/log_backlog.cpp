#include "log/log_backlog.h"

#include "log/log_line.h"
#include "util/text.h"

bool CLogBacklog::Push(const char* pszLine)
{
    if (m_count == LOG_BACKLOG_LINES) {
        m_lost = AddCounts(m_lost, 1);
        return false;
    }
    CopyText(m_lines[(m_first + m_count) % LOG_BACKLOG_LINES], pszLine);
    ++m_count;
    return true;
}

const char* CLogBacklog::Front() const
{
    return m_count == 0 ? nullptr : m_lines[m_first];
}

void CLogBacklog::Pop()
{
    if (m_count == 0) return;
    m_first = (m_first + 1) % LOG_BACKLOG_LINES;
    --m_count;
}

#include "device/volume_queue.h"

#include "util/text.h"

bool CVolumeQueue::Push(const VolumeRequest& request)
{
    if (m_count == VOLUME_QUEUE_SIZE) return false;
    VolumeRequest& slot = m_requests[(m_first + m_count) % VOLUME_QUEUE_SIZE];
    slot.change = request.change;
    slot.cLetter = request.cLetter;
    slot.bNewMedium = request.bNewMedium;
    CopyText(slot.szInterfacePath, request.szInterfacePath);
    ++m_count;
    return true;
}

bool CVolumeQueue::Pop(VolumeRequest& request)
{
    if (m_count == 0) return false;
    request = m_requests[m_first];
    m_first = (m_first + 1) % VOLUME_QUEUE_SIZE;
    --m_count;
    return true;
}

void DescribeVolumeChange(char (&szText)[VOLUME_CHANGE_TEXT_SIZE], const VolumeRequest& request)
{
    const char* pszChange = "present at start";
    switch (request.change) {
    case VolumeChange::Arrived:
        pszChange = request.cLetter != 0 ? "mounted" : "arrived";
        break;
    case VolumeChange::Removed:
        pszChange = "removed";
        break;
    case VolumeChange::PresentAtStart:
        break;
    }
    if (request.cLetter != 0)
        FormatText(szText, "drive %c: %s", UpperAscii(request.cLetter), pszChange);
    else
        FormatText(szText, "volume %s %s", request.szInterfacePath, pszChange);
}

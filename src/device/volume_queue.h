// Volume changes heard on the window's thread, waiting for the thread that
// reads the media: a fixed ring, so that holding one costs no heap, taken in
// the order they came. No platform calls.
#pragma once

#include <cstddef>

#include "device/volume_table.h"

enum class VolumeChange {
    Arrived,         // event 104 once the volume has been read
    Removed,         // event 105, from what was recorded
    PresentAtStart,  // event 106
};

// One change: of a drive letter (a volume broadcast, or the start), or of a
// volume interface, whose letter may come a moment later.
struct VolumeRequest {
    VolumeChange change;
    char cLetter;     // 'E'; 0 for a volume interface
    bool bNewMedium;  // a card reader's new card, or a new disc: a new volume
    char szInterfacePath[VOLUME_INTERFACE_PATH_SIZE];
};

// How many changes may wait while a medium holds the volume thread.
constexpr size_t VOLUME_QUEUE_SIZE = 32;

class CVolumeQueue {
public:
    // All zeros, so a static instance can live in .bss.
    constexpr CVolumeQueue() : m_requests(), m_first(0), m_count(0) {}

    // Queues a copy behind the others; false, keeping nothing, when full.
    bool Push(const VolumeRequest& request);
    // Takes the oldest; false when none waits.
    bool Pop(VolumeRequest& request);
    size_t Count() const { return m_count; }
    // The one that waits at place i, 0 being the oldest.
    const VolumeRequest& At(size_t i) const { return m_requests[(m_first + i) % VOLUME_QUEUE_SIZE]; }

private:
    VolumeRequest m_requests[VOLUME_QUEUE_SIZE];
    size_t m_first;
    size_t m_count;
};

// A change as the Application log names it: "drive E: mounted", "drive E:
// removed", "drive E: present at start", or, for an interface without its
// letter, "volume \\?\STORAGE#Volume#... arrived".
constexpr size_t VOLUME_CHANGE_TEXT_SIZE = VOLUME_INTERFACE_PATH_SIZE + 32;
void DescribeVolumeChange(char (&szText)[VOLUME_CHANGE_TEXT_SIZE], const VolumeRequest& request);

#include <gtest/gtest.h>

#include <memory>

#include "device/volume_queue.h"
#include "service/service_status.h"

// Changes leave in the order they came, across the ring's wrap; a full
// queue keeps what it holds and takes nothing more.
TEST(VolumeQueue, KeepsOrderAcrossTheWrapAndRefusesWhenFull)
{
    auto queue = std::make_unique<CVolumeQueue>();
    VolumeRequest request = {VolumeChange::Arrived, 'E', false, ""};
    VolumeRequest out = {};
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < VOLUME_QUEUE_SIZE; ++i) {
            request.cLetter = static_cast<char>('A' + i % 26);
            ASSERT_TRUE(queue->Push(request)) << i;
        }
        EXPECT_FALSE(queue->Push(request));
        EXPECT_EQ(VOLUME_QUEUE_SIZE, queue->Count());
        EXPECT_EQ('A', queue->At(0).cLetter);
        for (size_t i = 0; i < VOLUME_QUEUE_SIZE - 5; ++i) ASSERT_TRUE(queue->Pop(out));
        EXPECT_EQ(static_cast<char>('A' + (VOLUME_QUEUE_SIZE - 6) % 26), out.cLetter);
        while (queue->Pop(out)) {}
        EXPECT_EQ(0u, queue->Count());
    }
    char szText[VOLUME_CHANGE_TEXT_SIZE];
    DescribeVolumeChange(szText, {VolumeChange::Arrived, 'e', true, ""});
    EXPECT_STREQ("drive E: mounted", szText);
    DescribeVolumeChange(szText, {VolumeChange::PresentAtStart, 'F', false, ""});
    EXPECT_STREQ("drive F: present at start", szText);
    DescribeVolumeChange(szText, {VolumeChange::Arrived, 0, false, "\\\\?\\STORAGE#Volume#1"});
    EXPECT_STREQ("volume \\\\?\\STORAGE#Volume#1 arrived", szText);
}

// A service's states only go forward, a pending one may repeat with its
// progress, and nothing follows STOPPED: a late STOP_PENDING from a second
// stop would otherwise tell the SCM a stopped service is stopping again.
TEST(ServiceStatus, StatesGoForwardAndNothingFollowsStopped)
{
    const unsigned long life[] = {SERVICE_STATE_NONE, SERVICE_STATE_START_PENDING, SERVICE_STATE_RUNNING,
                                  SERVICE_STATE_STOP_PENDING, SERVICE_STATE_STOPPED};
    for (size_t from = 0; from < 5; ++from) {
        for (size_t to = 1; to < 5; ++to) {
            const bool bPendingAgain = from == to && (to == 1 || to == 3);
            EXPECT_EQ(to > from || bPendingAgain, StatusMayFollow(life[from], life[to])) << from << " -> " << to;
        }
    }
    EXPECT_FALSE(StatusMayFollow(SERVICE_STATE_STOPPED, SERVICE_STATE_STOPPED));
    EXPECT_FALSE(StatusMayFollow(SERVICE_STATE_RUNNING, 7)) << "a paused state is never reported";
    EXPECT_TRUE(StatusMayFollow(SERVICE_STATE_START_PENDING, SERVICE_STATE_STOPPED)) << "a start that fails";

    EXPECT_EQ(1u, NextCheckPoint(SERVICE_STATE_NONE, 0, SERVICE_STATE_START_PENDING));
    EXPECT_EQ(2u, NextCheckPoint(SERVICE_STATE_START_PENDING, 1, SERVICE_STATE_START_PENDING));
    EXPECT_EQ(0u, NextCheckPoint(SERVICE_STATE_START_PENDING, 2, SERVICE_STATE_RUNNING));
    EXPECT_EQ(1u, NextCheckPoint(SERVICE_STATE_RUNNING, 0, SERVICE_STATE_STOP_PENDING));
    EXPECT_EQ(4u, NextCheckPoint(SERVICE_STATE_STOP_PENDING, 3, SERVICE_STATE_STOP_PENDING));
    EXPECT_EQ(0u, NextCheckPoint(SERVICE_STATE_STOP_PENDING, 4, SERVICE_STATE_STOPPED));
}

// The signalled queue: a poster wakes a thread waiting on the event beside its sockets, and a
// halt or a close refuses what comes after it.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "hlv_thread/message.h"
#include "control/message_ids.h"
#include "platform/event_fd.h"
#include "platform/poll_wait.h"
#include "control/signalled_queue.h"

namespace {

using namespace std::chrono_literals;

std::unique_ptr<HLV_THREAD::Message> message(uint32_t id)
{
    auto made = std::make_unique<HLV_THREAD::Message>();
    made->req = id;
    return made;
}

bool signalled(const SignalledQueue& queue)
{
    HX_PLATFORM::PollSet wait;
    wait.add(queue.event());
    return wait.wait(0ms) == HX_PLATFORM::PollStatus::Ready;
}

TEST(SignalledQueue, APostFromAnotherThreadWakesTheWaiterAndOrderIsKept)
{
    SignalledQueue queue;
    ASSERT_TRUE(queue.valid());
    auto first = message(100);
    auto second = message(101);
    std::thread poster([&] {
        queue.push(first.get());
        queue.push(second.get());
    });
    HX_PLATFORM::PollSet wait;
    wait.add(queue.event());
    EXPECT_EQ(wait.wait(5000ms), HX_PLATFORM::PollStatus::Ready);
    poster.join();
    // Reset before emptying: a post racing with the reset would set the event again.
    queue.resetEvent();
    EXPECT_EQ(queue.pop(), first.get());
    EXPECT_EQ(queue.pop(), second.get());
    EXPECT_EQ(queue.pop(), nullptr);
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(signalled(queue));
    queue.push(first.get());
    EXPECT_TRUE(signalled(queue)) << "a post that finds the queue empty signals again";
    EXPECT_EQ(queue.pop(), first.get());
}

TEST(SignalledQueue, AHaltIsQueuedAndRefusesWhatFollowsAndCloseHandsBackTheRest)
{
    SignalledQueue queue;
    auto before = message(100);
    auto halt = message(HLV_THREAD::HALT);
    auto after = message(101);
    EXPECT_EQ(queue.push(before.get()), SignalledQueue::Push::Queued);
    EXPECT_EQ(queue.push(halt.get()), SignalledQueue::Push::Queued);
    EXPECT_TRUE(queue.closed());
    EXPECT_EQ(queue.push(after.get()), SignalledQueue::Push::Refused);
    const auto left = queue.close();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], before.get());
    EXPECT_EQ(left[1], halt.get());
    EXPECT_TRUE(queue.close().empty());
}

} // namespace

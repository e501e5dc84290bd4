// The wake of a message thread that also waits on sockets: a post from another thread sets it,
// the waiter resets it before taking the queue, and a halt refuses what comes after it.
#ifdef _WIN32
#  include <winsock2.h>
#else
#  include <poll.h>
#endif

#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "hlv_thread/msg_thread.h"
#include "hlv_thread/wake.h"
#include "test_threads.h"

namespace {

using halvex::thread::Message;
using halvex::thread::MsgThread;

// A thread whose loop never runs: the test plays its loop, waiting on the wake as a socket
// thread does.
class PollingThread : public MsgThread {
public:
    PollingThread() : MsgThread(WakeOnPost::Yes) {}
    ~PollingThread() override { haltWithoutLoop(); }
    void messageHandle(Message*) override {}

    using MsgThread::closeQueue;
    using MsgThread::enqueue;
    using MsgThread::messagesWaiting;
    using MsgThread::nextMessage;
    using MsgThread::Posted;
    using MsgThread::postWake;
};

bool signalled(const halvex::thread::Wake& wake, int timeoutMs)
{
#ifdef _WIN32
    WSAEVENT event = reinterpret_cast<WSAEVENT>(wake.handle());
    return ::WSAWaitForMultipleEvents(1, &event, FALSE, static_cast<DWORD>(timeoutMs), FALSE) == WSA_WAIT_EVENT_0;
#else
    pollfd entry{static_cast<int>(wake.handle()), POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLIN) != 0;
#endif
}

std::unique_ptr<Message> message(uint32_t id)
{
    auto made = std::make_unique<Message>();
    made->req = id;
    return made;
}

TEST(Wake, APostFromAnotherThreadWakesThePollerAndOrderIsKept)
{
    PollingThread thread;
    halvex::thread::Wake& wake = *thread.postWake();
    ASSERT_TRUE(wake.valid()) << "no event for the wake: error " << wake.error();
    auto first = message(halvex::thread::FIRST_USER_MESSAGE);
    auto second = message(halvex::thread::FIRST_USER_MESSAGE + 1);
    std::thread poster([&] {
        thread.post(first.get());
        thread.post(second.get());
    });
    EXPECT_TRUE(signalled(wake, 10000)) << "a post did not set the wake";
    poster.join();
    // Reset before emptying: a post racing with the reset sets the wake again.
    EXPECT_TRUE(wake.reset());
    EXPECT_TRUE(thread.messagesWaiting());
    EXPECT_EQ(thread.nextMessage(), first.get());
    EXPECT_EQ(thread.nextMessage(), second.get());
    EXPECT_EQ(thread.nextMessage(), nullptr);
    EXPECT_FALSE(thread.messagesWaiting());
    EXPECT_FALSE(signalled(wake, 0));
    thread.post(first.get());
    EXPECT_TRUE(signalled(wake, 0)) << "a post that finds the queue empty sets the wake again";
    EXPECT_EQ(thread.nextMessage(), first.get());
}

TEST(Wake, AHaltIsQueuedAndRefusesWhatFollowsAndClosingHandsBackTheRest)
{
    PollingThread thread;
    auto before = message(halvex::thread::FIRST_USER_MESSAGE);
    auto halt = message(halvex::thread::HALT);
    auto after = message(halvex::thread::FIRST_USER_MESSAGE + 1);
    EXPECT_EQ(thread.enqueue(before.get()), PollingThread::Posted::Queued);
    EXPECT_EQ(thread.enqueue(halt.get()), PollingThread::Posted::Queued);
    EXPECT_TRUE(thread.halted());
    EXPECT_EQ(thread.enqueue(after.get()), PollingThread::Posted::Refused);
    const auto left = thread.closeQueue();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], before.get());
    EXPECT_EQ(left[1], halt.get());
    EXPECT_FALSE(thread.messagesWaiting());
    EXPECT_TRUE(thread.closeQueue().empty());
}

} // namespace

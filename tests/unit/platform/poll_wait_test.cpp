// Waiting on socket pairs and event fds: readiness, connect-style writability, closed peers,
// time limits, and signals that interrupt the wait.
#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/event_fd.h"
#include "platform/poll_wait.h"
#include "platform/unique_fd.h"

namespace {

using namespace std::chrono_literals;
using halvex::platform::EventFd;
using halvex::platform::PollSet;
using halvex::platform::PollStatus;
using halvex::platform::UniqueFd;

struct SocketPair {
    SocketPair()
    {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        a.reset(fds[0]);
        b.reset(fds[1]);
    }
    UniqueFd a;
    UniqueFd b;
};

TEST(PollSet, ReportsOnlyTheDescriptorThatIsReady)
{
    SocketPair pair;
    EventFd event;
    PollSet set;
    const std::size_t socketIndex = set.add(pair.b.get());
    const std::size_t eventIndex = set.add(event.fd());
    ASSERT_EQ(::write(pair.a.get(), "x", 1), 1);
    ASSERT_EQ(set.wait(5s), PollStatus::Ready);
    EXPECT_TRUE(set.events(socketIndex).readable);
    EXPECT_FALSE(set.events(socketIndex).closed);
    EXPECT_FALSE(set.events(eventIndex).any());
}

TEST(PollSet, WritabilityIsReportedOnlyWhenWatched)
{
    SocketPair pair;
    PollSet set;
    const std::size_t index = set.add(pair.a.get());
    EXPECT_EQ(set.wait(0ms), PollStatus::TimedOut);
    set.watchWrite(index, true);
    ASSERT_EQ(set.wait(5s), PollStatus::Ready);
    EXPECT_TRUE(set.events(index).writable);
    EXPECT_FALSE(set.events(index).readable);
    set.watchWrite(index, false);
    EXPECT_EQ(set.wait(0ms), PollStatus::TimedOut);
    EXPECT_FALSE(set.events(index).any()) << "events of an earlier wait must not linger";
}

TEST(PollSet, ClosedPeerAndStaleDescriptorReadAsClosed)
{
    SocketPair pair;
    PollSet set;
    const std::size_t index = set.add(pair.b.get());
    pair.a.reset();
    ASSERT_EQ(set.wait(5s), PollStatus::Ready);
    EXPECT_TRUE(set.events(index).closed);

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::close(fds[1]);
    PollSet stale;
    const std::size_t staleIndex = stale.add(fds[0]);
    ASSERT_EQ(stale.wait(5s), PollStatus::Ready);
    EXPECT_TRUE(stale.events(staleIndex).closed);
}

TEST(PollSet, EventSetByAnotherThreadEndsAnUnlimitedWait)
{
    EventFd event;
    PollSet set;
    const std::size_t index = set.add(event.fd());
    std::thread setter([&] { event.set(); });
    const PollStatus status = set.wait(std::nullopt);
    setter.join();
    ASSERT_EQ(status, PollStatus::Ready);
    EXPECT_TRUE(set.events(index).readable);
    event.reset();
    EXPECT_EQ(set.wait(0ms), PollStatus::TimedOut);
}

std::atomic<int> interruptions{0};
void countInterruption(int)
{
    interruptions.fetch_add(1);
}

TEST(PollSet, SignalsDoNotCutTheWaitShort)
{
    struct sigaction action {};
    action.sa_handler = countInterruption; // no SA_RESTART: poll() sees EINTR
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
    SocketPair pair;
    PollSet set;
    set.add(pair.b.get());
    std::atomic<bool> done{false};
    const pthread_t waiter = ::pthread_self();
    // Interrupt the wait until it ends; bounded in count so it cannot run away.
    std::thread interrupter([&] {
        for (int i = 0; i < 100000 && !done.load(); ++i) {
            ::pthread_kill(waiter, SIGUSR1);
            std::this_thread::yield();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const PollStatus status = set.wait(100ms);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    done = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(status, PollStatus::TimedOut);
    EXPECT_GE(elapsed, 100ms);
    EXPECT_GT(interruptions.load(), 0) << "the wait was never interrupted, so nothing was tested";
}

} // namespace

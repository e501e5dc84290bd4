// Tests of timers run by a message thread: ticks on the host's thread between its messages,
// pause, period change, stopping (from the tick itself and from another thread) and a halted host.
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "hlv_thread/sync_message.h"
#include "hlv_thread/timer.h"
#include "log_capture.h"
#include "test_threads.h"

namespace {

using framework_test::kDeadline;
using framework_test::Recorder;
using framework_test::Signal;
using namespace std::chrono_literals;

// Counts its ticks; an optional action runs inside tick().
class CountingTimer : public halvex::thread::Timer {
public:
    explicit CountingTimer(uint32_t periodMicroseconds, std::function<void(CountingTimer&)> action = {})
        : Timer(periodMicroseconds), action_(std::move(action))
    {
    }
    ~CountingTimer() override { stop(); }

    void tick() override
    {
        signal.update([&] { ++ticks; });
        if (action_)
            action_(*this);
    }
    unsigned count()
    {
        return signal.read([&] { return ticks; });
    }
    bool waitTicks(unsigned wanted)
    {
        return signal.waitUntil([&] { return ticks >= wanted; });
    }

    Signal signal;
    unsigned ticks = 0; // guarded by signal

private:
    std::function<void(CountingTimer&)> action_;
};

TEST(Timer, TicksOnTheHostThreadBetweenMessagesPausesAndChangesPeriod)
{
    auto host = std::make_shared<Recorder>("host");
    host->start();
    std::atomic<bool> offHost{false};
    CountingTimer timer(1000, [&](CountingTimer&) {
        if (!host->isCurrentThread())
            offHost = true;
    });
    ASSERT_TRUE(timer.start(host));
    EXPECT_TRUE(timer.started());
    ASSERT_TRUE(timer.waitTicks(3));
    EXPECT_FALSE(offHost) << "a tick ran on another thread than its host's";

    // Messages still flow while the timer ticks.
    halvex::thread::SyncMessage between;
    between.req = 0x4321;
    between.send(host.get());
    EXPECT_EQ(between.status, halvex::thread::MESSAGE_DONE);

    // A long period, then paused: no further tick either way.
    timer.setPeriod(60000000);
    const unsigned afterChange = timer.count();
    timer.setPaused(true);
    timer.setPeriod(1000);
    EXPECT_TRUE(timer.paused());
    halvex::thread::SyncMessage flush;
    flush.send(host.get());
    EXPECT_LE(timer.count(), afterChange + 1) << "at most a tick already running when the period changed";
    timer.setPaused(false);
    EXPECT_TRUE(timer.waitTicks(afterChange + 3)) << "ticks resume at the new period";
    timer.stop();
    EXPECT_FALSE(timer.started());
    halvex::thread::closeThread(*host);
}

TEST(Timer, StopFromAnotherThreadWaitsForTheRunningTick)
{
    auto host = std::make_shared<Recorder>("host");
    host->start();
    Signal inTick;
    bool entered = false;
    std::atomic<bool> release{false};
    std::atomic<bool> tickEnded{false};
    CountingTimer timer(1000, [&](CountingTimer&) {
        inTick.update([&] { entered = true; });
        while (!release)
            std::this_thread::yield();
        tickEnded = true;
    });
    ASSERT_TRUE(timer.start(host));
    ASSERT_TRUE(inTick.waitUntil([&] { return entered; }));
    std::thread releaser([&] {
        // Gives stop() below a head start before the tick may end.
        for (int i = 0; i < 10; ++i)
            std::this_thread::yield();
        release = true;
    });
    timer.stop();
    EXPECT_TRUE(tickEnded) << "stop() returned while the tick still ran";
    releaser.join();
    const unsigned stoppedAt = timer.count();
    halvex::thread::SyncMessage flush;
    flush.send(host.get());
    EXPECT_EQ(timer.count(), stoppedAt) << "a tick after stop()";
    halvex::thread::closeThread(*host);
}

TEST(Timer, ATickMayStopItsOwnTimerAndAnExceptionStopsIt)
{
    auto host = std::make_shared<Recorder>("host");
    host->start();
    CountingTimer once(1000, [](CountingTimer& self) { self.stop(); });
    ASSERT_TRUE(once.start(host));
    ASSERT_TRUE(once.waitTicks(1));

    hx_test::LogCapture log;
    CountingTimer failing(1000, [](CountingTimer&) { throw std::runtime_error("tick failed"); });
    ASSERT_TRUE(failing.start(host));
    ASSERT_TRUE(failing.waitTicks(1));
    EXPECT_TRUE(log.waitFor("tick failed", kDeadline));
    // The failing tick stops its timer on the host's thread before the host takes its next message.
    halvex::thread::SyncMessage flush;
    flush.send(host.get());
    EXPECT_FALSE(failing.started());
    EXPECT_EQ(once.count(), 1u);
    EXPECT_EQ(failing.count(), 1u);
    halvex::thread::closeThread(*host);
}

TEST(Timer, NoHostOrAHaltedOneRunsNothing)
{
    CountingTimer timer(1000);
    EXPECT_FALSE(timer.start(nullptr));
    auto host = std::make_shared<Recorder>("host");
    host->start();
    halvex::thread::closeThread(*host);
    EXPECT_FALSE(timer.start(host));
    EXPECT_FALSE(timer.started());

    // A host that goes away while its timer is scheduled leaves the timer harmless.
    auto shortLived = std::make_shared<Recorder>("short-lived");
    shortLived->start();
    CountingTimer orphan(60000000);
    ASSERT_TRUE(orphan.start(shortLived));
    halvex::thread::closeThread(*shortLived);
    shortLived.reset();
    orphan.stop();
    EXPECT_EQ(orphan.count(), 0u);
}

} // namespace

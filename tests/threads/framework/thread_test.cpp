// Tests of the thread base: interruptible sleeps, wait channels, start and join rules.
#include <chrono>
#include <system_error>

#include <gtest/gtest.h>

#include "hlv_thread/note.h"
#include "hlv_thread/thread.h"
#include "log_capture.h"
#include "test_threads.h"

namespace {

using framework_test::kDeadline;
using framework_test::Signal;
using halvex::thread::Thread;
using Clock = std::chrono::steady_clock;

// Runs a given function as its body and keeps its result.
class FunctionThread : public Thread {
public:
    explicit FunctionThread(std::function<int(Thread&)> work, bool detach = false)
        : Thread(detach), work_(std::move(work))
    {
    }
    ~FunctionThread() override { join(); }
    void run() override { result = work_(*this); }

    std::atomic<int> result{-1};

private:
    std::function<int(Thread&)> work_;
};

TEST(Sleeps, StopEndsASleepWithZeroAndTimeOutsGive137)
{
    FunctionThread longSleep([](Thread& self) { return self.sleepMs(5000); });
    longSleep.start();
    longSleep.stop();
    longSleep.join();
    EXPECT_EQ(longSleep.result, 0);

    const auto before = Clock::now();
    FunctionThread shortSleep([](Thread& self) { return self.sleepSecondsNanoseconds(0, 30000000); });
    shortSleep.start();
    shortSleep.join();
    EXPECT_EQ(shortSleep.result, 137);
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(30));

    FunctionThread stopFirst([](Thread& self) {
        self.stop();
        return self.sleepSeconds(100) + self.waitChannel2(0) + self.waitChannel3(100000);
    });
    stopFirst.start();
    stopFirst.join();
    EXPECT_EQ(stopFirst.result, 0) << "a stop already requested ends every wait at once";
}

TEST(Channels, WakeEndsAWaitAndTimeOutGives137)
{
    Signal signal;
    bool waiting = false; // guarded by signal
    FunctionThread waiter([&](Thread& self) {
        signal.update([&] { waiting = true; });
        const int woken = self.waitChannel2(0);
        const int timedOut = self.waitChannel3(20);
        return woken * 1000 + timedOut;
    });
    waiter.start();
    ASSERT_TRUE(signal.waitUntil([&] { return waiting; }));
    // A wake before the wait begins is lost by design, and nothing tells when the wait has begun:
    // wake again each time a short wait for the thread's end runs out.
    const auto deadline = Clock::now() + kDeadline;
    bool ended = false;
    do {
        waiter.wakeChannel2();
        ended = waiter.waitEnded(std::chrono::milliseconds(1));
    } while (!ended && Clock::now() < deadline);
    ASSERT_TRUE(ended) << "a wake did not end the wait";
    waiter.join();
    EXPECT_EQ(waiter.result, 137);
}

TEST(StartAndJoin, Rules)
{
    FunctionThread selfJoin([](Thread& self) {
        try {
            self.join();
        } catch (const std::system_error& error) {
            return error.code() == std::errc::resource_deadlock_would_occur ? 1 : 2;
        }
        return 0;
    });
    selfJoin.start();
    selfJoin.join();
    EXPECT_EQ(selfJoin.result, 1);
    selfJoin.join(); // nothing joinable: no effect

    Signal signal;
    bool release = false; // guarded by signal
    FunctionThread busy([&](Thread&) {
        signal.waitUntil([&] { return release; });
        return 0;
    });
    busy.start();
    EXPECT_THROW(busy.start(), halvex::thread::LogicError);
    signal.update([&] { release = true; });
    busy.join();
    busy.start(); // a joined thread can start again
    busy.join();
}

TEST(StartAndJoin, ADetachedThreadRunsToItsEnd)
{
    FunctionThread detached([](Thread&) { return 5; }, /*detach=*/true);
    detached.start();
    ASSERT_TRUE(detached.waitEnded(kDeadline)) << "the detached thread never ended";
    EXPECT_EQ(detached.result, 5);
}

TEST(StartAndJoin, EscapingExceptionIsLoggedAtTheRoot)
{
    hx_test::LogCapture capture;
    FunctionThread failing([](Thread&) -> int { HLV_THROW(halvex::thread::RuntimeError, "%s", "broken body"); });
    failing.start();
    failing.join();
    EXPECT_EQ(capture.count("broken body"), 1u);
    EXPECT_EQ(capture.count("Unhandled Halvex exception reached root of Thread"), 1u);
}

} // namespace

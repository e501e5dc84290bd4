// Tests of tickers (periods, pause, one-shot, period change, stop, failures) and the period scale.
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "hlv_thread/note.h"
#include "hlv_thread/period_scale.h"
#include "hlv_thread/ticker.h"
#include "log_capture.h"
#include "test_threads.h"

namespace {

using framework_test::kDeadline;
using framework_test::Signal;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Records the time of every tick; an optional action runs inside tick().
class RecordingTicker : public halvex::thread::Ticker {
public:
    explicit RecordingTicker(uint32_t periodMicroseconds, std::function<void(std::size_t)> action = {})
        : Ticker(periodMicroseconds), action_(std::move(action))
    {
    }
    ~RecordingTicker() override { stopAndJoin(); }

    void tick() override
    {
        std::size_t count = 0;
        signal.update([&] {
            times.push_back(Clock::now());
            count = times.size();
        });
        if (action_)
            action_(count);
    }
    std::size_t ticks()
    {
        return signal.read([&] { return times.size(); });
    }
    Clock::time_point tickTime(std::size_t index)
    {
        return signal.read([&] { return times.at(index); });
    }

    Signal signal;
    std::vector<Clock::time_point> times; // guarded by signal

private:
    std::function<void(std::size_t)> action_;
};

TEST(Ticker, TicksOncePerPeriod)
{
    RecordingTicker ticker(20000);
    const auto started = Clock::now();
    ticker.start();
    ASSERT_TRUE(ticker.signal.waitUntil([&] { return ticker.times.size() >= 5; })) << "fewer than 5 ticks";
    EXPECT_GE(ticker.tickTime(4) - started, milliseconds(100));
    for (std::size_t i = 1; i < 5; ++i)
        EXPECT_GE(ticker.tickTime(i) - ticker.tickTime(i - 1), milliseconds(20)) << "tick " << i;
}

TEST(Ticker, PauseSkipsTicksWithoutEndingTheLoop)
{
    RecordingTicker ticker(5000);
    ticker.start();
    ASSERT_TRUE(ticker.signal.waitUntil([&] { return !ticker.times.empty(); }));
    ticker.setPaused(true);
    const std::size_t ticksAtPause = ticker.ticks();
    const uint64_t periodsAtPause = ticker.periodsBegun();
    ASSERT_TRUE(ticker.waitPeriodsBegun(periodsAtPause + 4, kDeadline)) << "the loop stopped";
    EXPECT_LE(ticker.ticks(), ticksAtPause + 1) << "at most a tick already under way";
    EXPECT_TRUE(ticker.running());

    const std::size_t ticksBeforeResume = ticker.ticks();
    ticker.setPaused(false);
    EXPECT_TRUE(ticker.signal.waitUntil([&] { return ticker.times.size() > ticksBeforeResume; }));
}

TEST(Ticker, OneShotTicksOnceAndEnds)
{
    RecordingTicker ticker(5000);
    ticker.setOneShot(true);
    ticker.start();
    ASSERT_TRUE(ticker.waitEnded(kDeadline)) << "one-shot loop did not end";
    EXPECT_EQ(ticker.ticks(), 1u);
}

// The change lands inside the second period; that period ends without a tick and the next tick
// comes one new period later.
TEST(Ticker, PeriodChangeSkipsTheTickOfTheCurrentPeriod)
{
    constexpr uint32_t firstPeriodUs = 100000;
    constexpr uint32_t secondPeriodUs = 60000;
    for (int attempt = 0; attempt < 3; ++attempt) {
        RecordingTicker ticker(firstPeriodUs);
        ticker.start();
        ASSERT_TRUE(ticker.waitPeriodsBegun(2, kDeadline));
        ticker.setPeriod(secondPeriodUs);
        if (ticker.periodsBegun() != 2)
            continue; // the machine was too slow to change within the period; try again
        ASSERT_TRUE(ticker.signal.waitUntil([&] { return ticker.times.size() == 2; }));
        EXPECT_GE(ticker.tickTime(1) - ticker.tickTime(0), std::chrono::microseconds(firstPeriodUs + secondPeriodUs));
        ASSERT_TRUE(ticker.signal.waitUntil([&] { return ticker.times.size() == 3; }));
        EXPECT_GE(ticker.tickTime(2) - ticker.tickTime(1), std::chrono::microseconds(secondPeriodUs));
        return;
    }
    GTEST_SKIP() << "could not change the period within one period on this machine";
}

TEST(Ticker, StopEndsTheLoopWithoutAnotherTick)
{
    RecordingTicker ticker(60u * 1000 * 1000);
    ticker.start();
    ticker.stop();
    ticker.join();
    EXPECT_EQ(ticker.ticks(), 0u);

    // Started again after a join, it ticks again; its destructor then stops and joins it.
    RecordingTicker restarted(2000);
    restarted.start();
    restarted.stop();
    restarted.join();
    restarted.start();
    EXPECT_TRUE(restarted.signal.waitUntil([&] { return !restarted.times.empty(); }));
}

TEST(Ticker, ExceptionFromTickEndsTheLoopAndIsLogged)
{
    hx_test::LogCapture capture;
    RecordingTicker standard(2000, [](std::size_t) { throw std::runtime_error("tick failed"); });
    RecordingTicker library(2000,
                            [](std::size_t) { HLV_THROW(halvex::thread::RuntimeError, "%s", "library failure"); });
    standard.start();
    library.start();
    ASSERT_TRUE(standard.waitEnded(kDeadline) && library.waitEnded(kDeadline)) << "a failing ticker went on";
    EXPECT_EQ(standard.ticks(), 1u);
    EXPECT_EQ(library.ticks(), 1u);
    EXPECT_EQ(capture.count("tick failed"), 1u);
    EXPECT_EQ(capture.count("  Unhandled C++ exception reached root of Ticker"), 1u);
    EXPECT_EQ(capture.count("Unhandled exception of unknown type reached root of Ticker"), 1u);
}

TEST(PeriodScale, ScalesRoundsAndClamps)
{
    halvex::thread::setPeriodScale(0.001);
    EXPECT_EQ(halvex::thread::scaledMilliseconds(5000), 5u);
    EXPECT_EQ(halvex::thread::scaledMicroseconds(100), 1u) << "a non-zero period never becomes 0";
    EXPECT_EQ(halvex::thread::scaledMicroseconds(0), 0u);
    halvex::thread::setPeriodScale(1e6);
    EXPECT_EQ(halvex::thread::scaledMilliseconds(5000), std::numeric_limits<uint32_t>::max());
    halvex::thread::setPeriodScale(std::nan(""));
    EXPECT_EQ(halvex::thread::scaledMilliseconds(5000), 5000u) << "an invalid scale restores 1";
}

} // namespace

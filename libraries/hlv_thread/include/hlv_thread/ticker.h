// A thread that calls tick() once per period (microseconds); the period can be paused, changed and stopped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "hlv_thread/thread.h"

namespace halvex::thread {

// Periods run on the monotonic clock. A period change takes effect from the next period: the
// tick at the end of the period in which it changed is skipped. While paused the periods go on
// without ticks. One-shot tickers end after their first period. stop() ends the loop at once,
// without a further tick. An exception from tick() ends the loop and is logged.
// Any thread may start, stop, pause or change the period; tick() runs on the ticker's own thread.
// The destructor stops and joins; a subclass whose tick() uses its own members must call
// stopAndJoin() in its own destructor, before those members go.
class Ticker : public Thread {
public:
    explicit Ticker(uint32_t periodMicroseconds);
    ~Ticker() override;

    void start(Body body = {}) override;
    void stop() override;
    void run() override;

    virtual void setPeriod(uint32_t periodMicroseconds);
    virtual void setPaused(bool paused);
    virtual void setOneShot(bool oneShot);
    virtual void tick() = 0;

    uint32_t period() const;
    bool paused() const;
    bool oneShot() const;
    // Periods the loop has begun, ticked or not; lets a caller see the loop advance without a
    // clock (once it reads n, the period-n length has been taken, so a later change is "within").
    uint64_t periodsBegun() const;
    // Waits until the loop has begun `count` periods; false on time-out.
    bool waitPeriodsBegun(uint64_t count, std::chrono::milliseconds timeout);
    // stop(), then join() unless called from the ticker's own thread.
    void stopAndJoin();

private:
    // Notes the period's length and waits it out; returns false when stopped.
    bool waitPeriod(uint32_t& periodMicroseconds);

    std::atomic<uint32_t> period_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> oneShot_{false};
    std::atomic<uint64_t> periodsBegun_{0};
    std::mutex tickLock_;
    std::condition_variable tickSignal_;
    std::condition_variable periodBegun_;
    bool stopped_ = false;
};

} // namespace halvex::thread

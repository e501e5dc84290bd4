// A thread that calls tick() once per period (microseconds); the period can be paused, changed and stopped.
#include "hlv_thread/ticker.h"

#include <chrono>
#include <exception>

#include "hlv_thread/log.h"
#include "root_report.h"

namespace halvex::thread {

Ticker::Ticker(uint32_t periodMicroseconds) : Thread(false), period_(periodMicroseconds) {}

Ticker::~Ticker()
{
    try {
        stopAndJoin();
    } catch (...) {
        reportRootException("Ticker", LibraryExceptions::Described);
    }
}

void Ticker::stopAndJoin()
{
    stop();
    if (!isCurrentThread())
        join();
}

void Ticker::start(Body body)
{
    {
        std::lock_guard<std::mutex> guard(tickLock_);
        stopped_ = false;
    }
    Thread::start(std::move(body));
}

void Ticker::stop()
{
    Thread::stop();
    {
        std::lock_guard<std::mutex> guard(tickLock_);
        stopped_ = true;
    }
    tickSignal_.notify_all();
}

void Ticker::run()
{
    wakeChannel3();
    try {
        for (;;) {
            uint32_t periodAtStart = 0;
            const bool stopped = !waitPeriod(periodAtStart);
            if (!stopped && !paused_ && period_ == periodAtStart)
                tick();
            if (stopped || oneShot_)
                return;
        }
    } catch (...) {
        // The library's own exceptions are deliberately not told apart here.
        reportRootException("Ticker", LibraryExceptions::Unrecognised);
    }
}

// The period is noted under the lock that setPeriod takes, so a change is either before this
// period (and sets its length) or within it (and costs its tick). A period change signals too,
// but only stop ends the wait early.
bool Ticker::waitPeriod(uint32_t& periodMicroseconds)
{
    std::unique_lock<std::mutex> guard(tickLock_);
    periodMicroseconds = period_;
    ++periodsBegun_;
    periodBegun_.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(periodMicroseconds);
    return !tickSignal_.wait_until(guard, deadline, [this] { return stopped_; });
}

void Ticker::setPeriod(uint32_t periodMicroseconds)
{
    {
        std::lock_guard<std::mutex> guard(tickLock_);
        period_ = periodMicroseconds;
    }
    tickSignal_.notify_all();
}

void Ticker::setPaused(bool paused)
{
    paused_ = paused;
}

void Ticker::setOneShot(bool oneShot)
{
    oneShot_ = oneShot;
}

uint32_t Ticker::period() const
{
    return period_;
}

bool Ticker::paused() const
{
    return paused_;
}

bool Ticker::oneShot() const
{
    return oneShot_;
}

uint64_t Ticker::periodsBegun() const
{
    return periodsBegun_;
}

bool Ticker::waitPeriodsBegun(uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(tickLock_);
    return periodBegun_.wait_for(guard, timeout, [&] { return periodsBegun_ >= count; });
}

} // namespace halvex::thread

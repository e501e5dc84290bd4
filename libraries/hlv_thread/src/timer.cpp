// A periodic action run by a message thread between its messages, instead of a thread of its own.
#include "hlv_thread/timer.h"

#include "hlv_thread/msg_thread.h"
#include "root_report.h"

namespace halvex::thread {

Timer::Timer(uint32_t periodMicroseconds) : period_(periodMicroseconds) {}

Timer::~Timer()
{
    try {
        stop();
    } catch (...) {
        reportRootException("Timer", LibraryExceptions::Described);
    }
}

// The host is known, and the timer marked started, before the first tick can run: a tick that
// stops its own timer (or throws) may end before schedule() has returned here, and its stop must
// not be overwritten.
bool Timer::start(const std::shared_ptr<MsgThread>& newHost)
{
    stop();
    if (!newHost)
        return false;
    {
        std::lock_guard<std::mutex> guard(hostLock_);
        host_ = newHost;
        started_ = true;
    }
    if (newHost->schedule(*this))
        return true;
    std::lock_guard<std::mutex> guard(hostLock_);
    host_.reset();
    started_ = false;
    return false;
}

void Timer::stop()
{
    std::shared_ptr<MsgThread> current;
    {
        std::lock_guard<std::mutex> guard(hostLock_);
        current = host_.lock();
        host_.reset();
    }
    started_ = false;
    if (current)
        current->unschedule(*this);
}

void Timer::setPeriod(uint32_t periodMicroseconds)
{
    period_ = periodMicroseconds;
    if (const std::shared_ptr<MsgThread> current = host())
        current->reschedule(*this);
}

void Timer::setPaused(bool paused)
{
    paused_ = paused;
}

uint32_t Timer::period() const
{
    return period_;
}

bool Timer::paused() const
{
    return paused_;
}

bool Timer::started() const
{
    return started_;
}

std::shared_ptr<MsgThread> Timer::host() const
{
    std::lock_guard<std::mutex> guard(hostLock_);
    return host_.lock();
}

// The host calls this without its timer lock, so the tick may stop or re-time any timer.
void Timer::fire()
{
    if (paused_)
        return;
    try {
        tick();
    } catch (...) {
        reportRootException("Timer", LibraryExceptions::Unrecognised);
        stop();
    }
}

} // namespace halvex::thread

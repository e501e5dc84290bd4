// The base of every library thread: one operating-system thread, an interruptible sleep and two wait channels.
#include "hlv_thread/thread.h"

#include <chrono>
#include <exception>
#include <system_error>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"
#include "root_report.h"

namespace halvex::thread {

Thread::Thread(bool detachOnStart) : detachOnStart_(detachOnStart) {}

Thread::~Thread()
{
    requireJoined("HLV_THREAD::Thread::~Thread");
}

void Thread::requireJoined(const char* who)
{
    bool joinable = false;
    {
        std::lock_guard<std::mutex> guard(handleLock_);
        joinable = handle_.joinable();
    }
    if (joinable) {
        logRaw(LOG_PRIORITY_ERROR, fmtToString("%s: destroying a thread that was not joined", who));
        std::terminate();
    }
}

void Thread::join()
{
    if (isCurrentThread())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                "HLV_THREAD::Thread::join");
    std::lock_guard<std::mutex> guard(handleLock_);
    if (handle_.joinable())
        handle_.join();
}

void Thread::start(Body body)
{
    std::lock_guard<std::mutex> guard(handleLock_);
    if (handle_.joinable())
        HLV_THROW(LogicError, "%s: the thread was started before and not joined", "HLV_THREAD::Thread::start");
    {
        std::lock_guard<std::mutex> sleepGuard(sleepLock_);
        stopRequested_ = false;
    }
    running_ = true;
    try {
        // std::thread reports a failed creation as std::system_error (resource unavailable).
        handle_ = std::thread([this, threadBody = std::move(body)] { threadMain(threadBody); });
    } catch (...) {
        running_ = false;
        throw;
    }
    if (detachOnStart_) {
        HLV_LOG("%s: detaching and cleaningup the thread", "HLV_THREAD::Thread::start");
        handle_.detach();
    }
}

// Nothing may escape a thread's root: it would end the process.
void Thread::threadMain(const Body& body)
{
    currentId_ = std::this_thread::get_id();
    try {
        if (body)
            body(*this);
        else
            run();
    } catch (...) {
        reportRootException("Thread", LibraryExceptions::Described);
    }
    // Marked and signalled under the lock: a waiter that sees the end may destroy the object
    // (a detached thread's owner has no join to wait on), so nothing here touches it afterwards.
    std::lock_guard<std::mutex> guard(sleepLock_);
    currentId_ = std::thread::id();
    running_ = false;
    sleepSignal_.notify_all();
}

void Thread::stop()
{
    {
        std::lock_guard<std::mutex> guard(sleepLock_);
        stopRequested_ = true;
    }
    sleepSignal_.notify_all();
}

int Thread::sleepSeconds(uint32_t seconds)
{
    const uint64_t milliseconds = uint64_t{seconds} * 1000;
    return sleepMs(milliseconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(milliseconds));
}

int Thread::sleepSecondsNanoseconds(uint32_t seconds, uint32_t nanoseconds)
{
    const uint64_t milliseconds = uint64_t{seconds} * 1000 + nanoseconds / 1000000;
    return sleepMs(milliseconds > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(milliseconds));
}

int Thread::sleepMs(uint32_t milliseconds)
{
    std::unique_lock<std::mutex> guard(sleepLock_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const bool stopped = sleepSignal_.wait_until(guard, deadline, [this] { return stopRequested_.load(); });
    return stopped ? WAIT_ENDED : WAIT_TIMED_OUT;
}

int Thread::waitChannel2(uint32_t milliseconds)
{
    return waitOn(channel2_, milliseconds);
}

int Thread::waitChannel3(uint32_t milliseconds)
{
    return waitOn(channel3_, milliseconds);
}

void Thread::wakeChannel2()
{
    wake(channel2_);
}

void Thread::wakeChannel3()
{
    wake(channel3_);
}

// A wake counts for the waiters present when it happens; the count guards against spurious wake-ups.
int Thread::waitOn(Channel& channel, uint32_t milliseconds)
{
    std::unique_lock<std::mutex> guard(channel.lock);
    if (stopRequested_)
        return WAIT_ENDED;
    const uint64_t wakesBefore = channel.wakeCount;
    const auto woken = [&] { return channel.wakeCount != wakesBefore; };
    if (milliseconds == 0) {
        channel.signal.wait(guard, woken);
        return WAIT_ENDED;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return channel.signal.wait_until(guard, deadline, woken) ? WAIT_ENDED : WAIT_TIMED_OUT;
}

void Thread::wake(Channel& channel)
{
    {
        std::lock_guard<std::mutex> guard(channel.lock);
        ++channel.wakeCount;
    }
    channel.signal.notify_all();
}

bool Thread::stopRequested() const
{
    return stopRequested_;
}

bool Thread::running() const
{
    return running_;
}

bool Thread::waitEnded(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(sleepLock_);
    return sleepSignal_.wait_for(guard, timeout, [this] { return !running_; });
}

bool Thread::isCurrentThread() const
{
    return currentId_.load() == std::this_thread::get_id();
}

} // namespace halvex::thread

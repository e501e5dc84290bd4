// A periodic action run by a message thread between its messages, instead of a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

namespace halvex::thread {

class MsgThread;

// Ticks once per period (microseconds, on the monotonic clock) on its host's thread, between the
// host's messages: a host running the framework's message loop (MsgThread::run). A tick that
// takes long holds the host's messages back, so ticks do little: post, read a counter, or one
// exchange with a camera the host would otherwise do for it. While paused the periods go on
// without ticks. A period change starts a new period: the tick of the current one is skipped. An
// exception from tick() stops the timer and is logged. The timer keeps no reference to its host:
// once the host has gone or halted, nothing ticks.
//
// Threads: start/stop/setPeriod/setPaused from any thread; tick() on the host's thread. stop()
// from another thread waits until a tick in progress has ended, so that afterwards tick() does
// not run; from the host's thread (a tick stopping its own timer) it only unschedules. A
// subclass whose tick() uses its own members calls stop() in its destructor.
class Timer {
public:
    explicit Timer(uint32_t periodMicroseconds);
    virtual ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Schedules the first tick one period from now on `host`; false (nothing scheduled) without
    // a host or once the host has halted.
    bool start(const std::shared_ptr<MsgThread>& host);
    void stop();
    void setPeriod(uint32_t periodMicroseconds);
    void setPaused(bool paused);

    uint32_t period() const;
    bool paused() const;
    // Between a successful start and stop.
    bool started() const;

    virtual void tick() = 0;

private:
    friend class MsgThread;

    // On the host's thread: ticks unless paused; an escaping exception stops the timer.
    void fire();

    std::shared_ptr<MsgThread> host() const;

    mutable std::mutex hostLock_;
    std::weak_ptr<MsgThread> host_;
    std::atomic<uint32_t> period_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> started_{false};
    // When the next tick is due; guarded by the host's timer lock.
    std::chrono::steady_clock::time_point due_{};
};

} // namespace halvex::thread

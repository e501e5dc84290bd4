// The base of every library thread: one operating-system thread, an interruptible sleep and two wait channels.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace halvex::thread {

// Owns one thread running run() (or a body given to start). Sleeps end at once on stop();
// channels 2 and 3 are general wait/wake pairs. The thread must be joined before the object is
// destroyed. start/stop/join/wake may be called from any thread; sleeps and waits are meant
// for the thread itself but work from any.
class Thread {
public:
    using Body = std::function<void(Thread&)>;
    // Results of sleeps and waits.
    static constexpr int WAIT_TIMED_OUT = 137;
    static constexpr int WAIT_ENDED = 0;

    explicit Thread(bool detachOnStart = false);
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Waits for the thread to end; nothing to do without a joinable thread. From the thread
    // itself: std::system_error with resource_deadlock_would_occur.
    virtual void join();
    // Clears the stop request and starts the thread with body, or run() when body is empty.
    virtual void start(Body body = {});
    // Requests a stop and ends a running sleep.
    virtual void stop();

    virtual int sleepSeconds(uint32_t seconds);
    virtual int sleepSecondsNanoseconds(uint32_t seconds, uint32_t nanoseconds);
    // 137 when the full time passed, 0 when a stop ended it or was already requested.
    virtual int sleepMs(uint32_t milliseconds);
    // 0 means no limit. 137 on time-out, 0 when woken or a stop was already requested.
    virtual int waitChannel2(uint32_t milliseconds);
    virtual int waitChannel3(uint32_t milliseconds);
    virtual void wakeChannel2();
    virtual void wakeChannel3();

    virtual void run() = 0;

    bool stopRequested() const;
    // True from start() until the thread's body has returned.
    bool running() const;
    // Waits until the body has returned (at once when the thread is not running); false on
    // time-out. Once it returns true the object may be destroyed, even for a detached thread.
    bool waitEnded(std::chrono::milliseconds timeout);
    // True when called from this object's own thread.
    bool isCurrentThread() const;

protected:
    // Ends the process with a log line when the thread was not joined; destroying a running
    // thread's object cannot be made safe.
    void requireJoined(const char* who);

private:
    struct Channel {
        std::mutex lock;
        std::condition_variable signal;
        uint64_t wakeCount = 0;
    };

    void threadMain(const Body& body);
    int waitOn(Channel& channel, uint32_t milliseconds);
    static void wake(Channel& channel);

    const bool detachOnStart_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::thread::id> currentId_{};
    std::mutex handleLock_;
    std::thread handle_;
    std::mutex sleepLock_;
    std::condition_variable sleepSignal_;
    Channel channel2_;
    Channel channel3_;
};

} // namespace halvex::thread

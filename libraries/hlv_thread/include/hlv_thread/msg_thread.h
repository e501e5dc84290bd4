// A thread with a message queue: hands each message to a handler until a HALT has been handled.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hlv_thread/message.h"
#include "hlv_thread/thread.h"

namespace halvex::thread {

class Timer;
class Wake;

// Any thread may post; the thread's own loop is the only consumer. Messages that return to
// their owner go to ownerMessage, all others to messageHandle. Posting a HALT marks the thread
// halted: the messages queued before it are still handled, in order, and the loop ends once the
// queue is empty; anything posted later is refused ("Message received after HALT") and sent back
// failed. Handlers must answer HALT by replying to it (status 1 and forward), which releases the
// closer. An exception that escapes a handler is logged and the loop goes on.
//
// A thread that waits on sockets as well as on its queue asks for a wake (WakeOnPost::Yes): the
// post that finds the queue empty sets it, and the thread waits on it beside its sockets, then
// resets it before it takes the queued messages (nextMessage until nullptr), so a post that
// races with the reset is still seen.
//
// The framework's loop (run) also runs the thread's timers (hlv_thread/timer.h) between messages:
// it waits for a message until the next timer is due. A thread with a loop of its own runs none.
class MsgThread : public Thread {
public:
    enum class WakeOnPost { No, Yes };

    explicit MsgThread(WakeOnPost wake = WakeOnPost::No);
    ~MsgThread() override;

    // Without a body: waits at the start gate, then runs the message loop.
    void start(Body body = {}) override;
    void run() override;

    virtual void post(Message* message);
    virtual bool halted() const;
    // Handles messages owned by others.
    virtual void messageHandle(Message* message) = 0;
    // Handles messages that came back to this thread as their owner; by default deletes them
    // (a synchronous one is forwarded instead: it lives on its sender's stack).
    virtual void ownerMessage(Message* message);
    // "thread::NOP", "thread::HALT", "thread::DUMP" or "unknown"; subclasses add theirs.
    virtual std::string messageName(uint32_t id) const;
    virtual void waitStartGate();
    virtual void openStartGate();

    // Marks the thread halted and refuses what is still queued. For a thread whose loop does
    // not run (never started), where a HALT message would never be handled.
    void haltWithoutLoop();

protected:
    // Lets a subclass hold its loop back until openStartGate (e.g. from its constructor).
    void closeStartGate();
    // Next message; nullptr when halted with nothing left, or after timeoutMs (< 1: no limit).
    Message* waitForMessage(uint32_t timeoutMs);

    // How a post went. QueuedWithoutWake: the wake could not be set (its error() says why); the
    // message waits for the owner's next wake-up. Refused: the thread is halted and the caller
    // still owns the message.
    enum class Posted { Queued, QueuedWithoutWake, Refused };
    // The queueing part of post: queues the message unless the thread is halted; a HALT is
    // queued and halts the thread behind it.
    Posted enqueue(Message* message);
    // post for a thread whose handler has no use for a NOP: refuses it at once, which still
    // releases a waiting sender, instead of queueing it.
    void postSkippingNop(Message* message);
    // What post does, outside the queue lock, with a message the halted thread refused (the
    // caller still owns it): by default logs it (debug) and refuses it, which sends it back
    // failed or releases a waiting sender.
    virtual void answerRefused(Message* message);
    // What post does when the wake could not be set: by default logs the wake's error.
    virtual void reportWakeNotSet();
    // The oldest message without waiting, or nullptr when none waits.
    Message* nextMessage();
    // Whether a message waits; cheap enough for a receive loop to ask between datagrams.
    bool messagesWaiting() const;
    // The wake set by posts; nullptr for a thread made without one.
    Wake* postWake() const;
    // Marks the thread halted and hands back what is still queued, for the caller to answer.
    std::deque<Message*> closeQueue();

private:
    friend class Timer;
    using TimePoint = std::chrono::steady_clock::time_point;

    void dispatch(Message* message);
    bool loopFinished();
    void refuseQueued();
    // The loop's wait: the next message, or nullptr when a timer is due (or halted, queue empty).
    Message* waitForMessageOrTimer();
    std::optional<TimePoint> nextTimerDue();
    void runDueTimers();
    // Timers (any thread). schedule is false once the thread has halted; unschedule waits for a
    // tick in progress unless called from this thread.
    bool schedule(Timer& timer);
    void unschedule(Timer& timer);
    void reschedule(Timer& timer);
    void timersChanged();

    std::mutex gateLock_;
    std::condition_variable gateSignal_;
    bool gateOpen_ = true;
    std::mutex queueLock_;
    std::condition_variable queueSignal_;
    std::deque<Message*> queue_;
    std::atomic<std::size_t> queued_{0};
    std::atomic<bool> halted_{false};
    const std::unique_ptr<Wake> wake_;
    // Set (under queueLock_) when a timer was added or re-timed, so the loop's wait starts again.
    bool timersChanged_ = false;
    std::mutex timerLock_;
    std::condition_variable timerIdle_;
    std::vector<Timer*> timers_;
    // The timer whose tick runs now, if any.
    Timer* runningTimer_ = nullptr;
};

// Closes a message thread the standard way: a synchronous HALT unless it is already halted,
// then join. Safe to call twice; not from the thread itself.
void closeThread(MsgThread& thread);

} // namespace halvex::thread

// A thread with a message queue: hands each message to a handler until a HALT has been handled.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "hlv_thread/message.h"
#include "hlv_thread/thread.h"

namespace HLV_THREAD {

// Any thread may post; the thread's own loop is the only consumer. Messages that return to
// their owner go to ownerMessage, all others to messageHandle. Posting a HALT marks the thread
// halted: the messages queued before it are still handled, in order, and the loop ends once the
// queue is empty; anything posted later is refused ("Message received after HALT") and sent back
// failed. Handlers must answer HALT by replying to it (status 1 and forward), which releases the
// closer. An exception that escapes a handler is logged and the loop goes on.
class MsgThread : public Thread {
public:
    MsgThread();
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
    // "HLV_THREAD::NOP", "HLV_THREAD::HALT", "HLV_THREAD::DUMP" or "unknown"; subclasses add theirs.
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

private:
    void dispatch(Message* message);
    bool loopFinished();
    void refuseQueued();

    std::mutex gateLock_;
    std::condition_variable gateSignal_;
    bool gateOpen_ = true;
    std::mutex queueLock_;
    std::condition_variable queueSignal_;
    std::deque<Message*> queue_;
    std::atomic<bool> halted_{false};
};

// Closes a message thread the standard way: a synchronous HALT unless it is already halted,
// then join. Safe to call twice; not from the thread itself.
void closeThread(MsgThread& thread);

} // namespace HLV_THREAD

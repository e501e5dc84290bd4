// The message queue of a thread that also waits on sockets: a post that finds the queue empty
// signals an event descriptor, which the thread waits on beside its sockets.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

namespace HLV_THREAD {
class Message;
}
namespace HX_PLATFORM {
class EventFd;
}

// Any thread pushes; the owning thread pops, resets the event and closes. The owner resets the
// event before it empties the queue, so a post that races with the reset is still seen.
class SignalledQueue {
public:
    SignalledQueue();
    ~SignalledQueue();
    SignalledQueue(const SignalledQueue&) = delete;
    SignalledQueue& operator=(const SignalledQueue&) = delete;

    // Whether the event exists; error() holds errno when it could not be created.
    bool valid() const;
    int error() const;

    enum class Push { Queued, QueuedButNotSignalled, Refused };
    // Queues the message unless the queue is closed (Refused: the caller still owns it). A HALT
    // is queued and closes the queue behind it. QueuedButNotSignalled: the event could not be
    // set (error() says why); the message waits for the owner's next wake-up.
    Push push(HLV_THREAD::Message* message);
    // The oldest message, or nullptr when none waits.
    HLV_THREAD::Message* pop();
    // Refuses later pushes and hands back what is still queued.
    std::deque<HLV_THREAD::Message*> close();

    bool closed() const;
    bool empty() const;
    // The event to wait on, and its reset.
    const HX_PLATFORM::EventFd& event() const;
    void resetEvent();

private:
    std::unique_ptr<HX_PLATFORM::EventFd> event_;
    mutable std::mutex lock_;
    std::deque<HLV_THREAD::Message*> messages_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> closed_{false};
};

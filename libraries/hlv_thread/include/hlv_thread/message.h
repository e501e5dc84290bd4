// The asynchronous message: identifier, status, owner and a last-in first-out route of threads to visit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

namespace halvex::thread {

// The framework's own message identifiers; everything below 0x30000 is reserved for it, and a
// library built on the framework numbers its messages from there on.
enum : uint32_t { NOP = 0, HALT = 1, DUMP = 2, FIRST_USER_MESSAGE = 0x30000 };

class MsgThread;

// Message status values.
enum : uint32_t { MESSAGE_PENDING = 0, MESSAGE_DONE = 1, MESSAGE_FAILED = 2 };

// Anything a message may carry along and delete with itself.
class MessageAttachment {
public:
    virtual ~MessageAttachment();
};

// A heap message passed between message threads. The sender pushes the threads still to visit
// onto the route (the last pushed is visited next) and posts it; each receiver sets the status
// and calls forward(), after which it must not touch the message. A message whose route is used
// up, or that failed, goes back to its owner. Whoever consumes it last deletes it.
// One thread at a time touches a message: it is always in exactly one queue or one handler.
class Message {
public:
    Message();
    virtual ~Message();
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    // Hands the message to its next stop; throws LogicError when it has nowhere to go.
    virtual void forward();
    // Marks the handling result and forwards.
    void reply(uint32_t newStatus);

    // True for messages whose sender waits for them (they live on the sender's stack).
    virtual bool synchronous() const;
    // Called by a halted thread that will not handle the message: it fails and goes back to
    // another owner, or is deleted when nobody else would take it.
    virtual void refuse(MsgThread* refusedBy);

    void pushRoute(MsgThread* thread);
    // Takes `stop` off the route when it is the next stop (a visit that turned out to be needless);
    // true if it was.
    bool skipNextStop(const MsgThread* stop);
    bool routeEmpty() const;
    std::size_t routeLength() const;
    void clearRoute();

    uint32_t req = 0;
    uint32_t status = MESSAGE_PENDING;
    MsgThread* owner = nullptr;
    std::unique_ptr<MessageAttachment> attachment;

protected:
    // Takes the next stop off the route; the route must not be empty.
    MsgThread* popRoute();

private:
    std::deque<MsgThread*> route_;
};

} // namespace halvex::thread

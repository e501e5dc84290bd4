// The asynchronous message: identifier, status, owner and a last-in first-out route of threads to visit.
#include "hlv_thread/message.h"

#include "hlv_thread/msg_thread.h"
#include "hlv_thread/note.h"

namespace halvex::thread {

MessageAttachment::~MessageAttachment() = default;

Message::Message() = default;

Message::~Message() = default;

// A failed message skips the rest of its route and goes straight back to its owner.
void Message::forward()
{
    MsgThread* target = nullptr;
    if (!route_.empty() && status != MESSAGE_FAILED) {
        target = popRoute();
    } else {
        if (owner == nullptr)
            HLV_THROW(LogicError, "forward() with empty route and nullptr owner");
        target = owner;
    }
    target->post(this);
}

void Message::reply(uint32_t newStatus)
{
    status = newStatus;
    forward();
}

bool Message::synchronous() const
{
    return false;
}

void Message::refuse(MsgThread* refusedBy)
{
    status = MESSAGE_FAILED;
    if (owner != nullptr && owner != refusedBy)
        owner->post(this);
    else
        delete this;
}

void Message::pushRoute(MsgThread* thread)
{
    route_.push_back(thread);
}

bool Message::skipNextStop(const MsgThread* stop)
{
    if (stop == nullptr || route_.empty() || route_.back() != stop)
        return false;
    route_.pop_back();
    return true;
}

bool Message::routeEmpty() const
{
    return route_.empty();
}

std::size_t Message::routeLength() const
{
    return route_.size();
}

void Message::clearRoute()
{
    route_.clear();
}

MsgThread* Message::popRoute()
{
    MsgThread* next = route_.back();
    route_.pop_back();
    return next;
}

} // namespace halvex::thread

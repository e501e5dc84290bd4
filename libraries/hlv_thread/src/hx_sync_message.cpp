// The synchronous message: its sender blocks until the message has travelled its whole route.
#include "hlv_thread/sync_message.h"

#include "hlv_thread/msg_thread.h"
#include "hlv_thread/note.h"

namespace halvex::thread {

SyncMessage::SyncMessage() = default;

SyncMessage::~SyncMessage() = default;

// The lock is never held while posting: a halted target refuses the message inside post(),
// which completes it and so needs the lock itself.
void SyncMessage::send(MsgThread* target)
{
    if (target == nullptr)
        HLV_THROW(LogicError, "%s: no target thread", "HLV_THREAD::SyncMessage::send");
    if (target->isCurrentThread())
        HLV_THROW(LogicError, "%s: a thread cannot wait for its own loop", "HLV_THREAD::SyncMessage::send");
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (inFlight_)
            HLV_THROW(LogicError, "Sync fault");
        inFlight_ = true;
    }
    target->post(this);
    std::unique_lock<std::mutex> guard(lock_);
    done_.wait(guard, [this] { return !inFlight_; });
}

// The status is not consulted: a failed message also completes when its route is used up.
void SyncMessage::forward()
{
    MsgThread* next = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!inFlight_)
            HLV_THROW(LogicError, "Sync fault");
        if (routeEmpty()) {
            // Signalled under the lock: the sender cannot return and destroy the message before
            // this call has let go of it.
            inFlight_ = false;
            done_.notify_all();
            return;
        }
        next = popRoute();
    }
    next->post(this);
}

bool SyncMessage::synchronous() const
{
    return true;
}

void SyncMessage::refuse(MsgThread* /*refusedBy*/)
{
    status = MESSAGE_FAILED;
    clearRoute();
    complete();
}

bool SyncMessage::inFlight() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return inFlight_;
}

void SyncMessage::complete()
{
    std::lock_guard<std::mutex> guard(lock_);
    inFlight_ = false;
    done_.notify_all();
}

} // namespace halvex::thread

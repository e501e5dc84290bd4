// The message queue of a thread that also waits on sockets.
#include "control/signalled_queue.h"

#include "hlv_thread/message.h"
#include "control/message_ids.h"
#include "platform/event_fd.h"

SignalledQueue::SignalledQueue() : event_(std::make_unique<HX_PLATFORM::EventFd>()) {}

SignalledQueue::~SignalledQueue() = default;

bool SignalledQueue::valid() const
{
    return event_->valid();
}

int SignalledQueue::error() const
{
    return event_->error();
}

SignalledQueue::Push SignalledQueue::push(HLV_THREAD::Message* message)
{
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (closed_)
            return Push::Refused;
        if (message->req == HLV_THREAD::HALT)
            closed_ = true;
        wasEmpty = messages_.empty();
        messages_.push_back(message);
        ++count_;
    }
    if (wasEmpty && !event_->set())
        return Push::QueuedButNotSignalled;
    return Push::Queued;
}

HLV_THREAD::Message* SignalledQueue::pop()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (messages_.empty())
        return nullptr;
    HLV_THREAD::Message* next = messages_.front();
    messages_.pop_front();
    --count_;
    return next;
}

std::deque<HLV_THREAD::Message*> SignalledQueue::close()
{
    std::deque<HLV_THREAD::Message*> left;
    std::lock_guard<std::mutex> guard(lock_);
    closed_ = true;
    left.swap(messages_);
    count_ = 0;
    return left;
}

bool SignalledQueue::closed() const
{
    return closed_;
}

bool SignalledQueue::empty() const
{
    return count_ == 0;
}

const HX_PLATFORM::EventFd& SignalledQueue::event() const
{
    return *event_;
}

void SignalledQueue::resetEvent()
{
    event_->reset();
}

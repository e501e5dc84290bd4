// The synchronous message: its sender blocks until the message has travelled its whole route.
#pragma once

#include <condition_variable>
#include <mutex>

#include "hlv_thread/message.h"

namespace halvex::thread {

// Lives on the sender's stack; receivers never delete it. send() posts it and waits without a
// time limit until a forward() finds the route used up (whatever the status). Sending it again
// while it is out, or forwarding it when it was not sent, is a "Sync fault". A thread must not
// send one to itself; that is refused rather than left to wait for ever.
class SyncMessage : public Message {
public:
    SyncMessage();
    ~SyncMessage() override;

    void forward() override;
    // Posts the message to target and returns when it is done.
    virtual void send(MsgThread* target);

    bool synchronous() const override;
    // Fails the message, drops its route and releases its sender.
    void refuse(MsgThread* refusedBy) override;
    bool inFlight() const;

private:
    void complete();

    mutable std::mutex lock_;
    std::condition_variable done_;
    bool inFlight_ = false;
};

} // namespace halvex::thread

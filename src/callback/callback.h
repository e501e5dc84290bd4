// The Callback thread: the one thread that calls host code, delivering events and filled stream buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "callback/callback_db.h"
#include "hlv_thread/msg_thread.h"

namespace halvex::callback {

// The process's single Callback thread. Other threads post it registrations, subscriptions,
// events (CallbackRequest) and stream buffer messages and never wait for the host. It ends each
// message by one rule: a synchronous message is forwarded (its sender waits), so is one with a
// route left or another owner; anything else is deleted here. A DUMP message is simply passed
// on, so a synchronous one returns once everything queued before it has been delivered.
//
// Threads: factory/close/postOwned/onCallbackThread from any thread; the handlers run on the
// Callback thread only. Once halted it is never re-created and never freed.
class Callback : public thread::MsgThread {
public:
    // The Callback thread, created and started on first use; nullptr once it has been closed.
    static Callback* factory();
    // Halts and joins the thread (if it ever ran); afterwards factory() hands out nothing.
    static void close();
    // True when the caller runs on the Callback thread, i.e. inside a host callback.
    static bool onCallbackThread();
    // Posts an event, registration or subscription to the Callback thread, which then owns it;
    // dropped when it has closed.
    static void postOwned(std::unique_ptr<thread::Message> message);

    // As every thread's post; stream buffers that reach the thread after it halted (the camera
    // services hand back what was lent to them as they close at shutdown) are refused with one
    // line for all of them rather than one per buffer.
    void post(thread::Message* message) override;
    void messageHandle(thread::Message* message) override;
    void ownerMessage(thread::Message* message) override;
    std::string messageName(uint32_t id) const override;

private:
    Callback();

    void handle(thread::Message& message, bool owned);
    void dispatch(thread::Message& message, bool owned);
    void handleCallback(thread::Message& message);
    void handleRegistration(thread::Message& message);
    void handleSubscription(thread::Message& message);
    void handleStream(thread::Message& message);
    CallbackDb* databaseFor(thread::Message& message, const char* handler, bool payloadFound,
                            const char* missingPayload);
    void finish(thread::Message* message);

    std::unique_ptr<CallbackDb> database_;
};

} // namespace halvex::callback

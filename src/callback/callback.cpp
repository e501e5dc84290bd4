// The Callback thread: the one thread that calls host code, delivering events and filled stream buffers.
#include "callback/callback.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <new>

#include "callback/callback_message_ids.h"
#include "callback/hx_stream.h"
#include "camera/camera_message_ids.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::callback {

using thread::fmtToString;

namespace {

using thread::Message;
using thread::TRACE_CALLBACK;
namespace ids = message_ids;

// Allocated once and never destroyed; a closed Callback thread is kept (halted) because posters
// may still hold its address.
struct CallbackSingleton {
    std::mutex lock;
    Callback* instance = nullptr;
    bool closed = false;
};

CallbackSingleton& singleton()
{
    static CallbackSingleton* const instance = new CallbackSingleton;
    return *instance;
}

void logPriority(int priority, const std::string& text)
{
    thread::logRaw(priority, text);
}

} // namespace

Callback* Callback::factory()
{
    CallbackSingleton& s = singleton();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.closed) {
        HLV_TRACE(TRACE_CALLBACK, "%s: Called after halted", "Callback::factory");
        return nullptr;
    }
    if (s.instance == nullptr) {
        std::unique_ptr<Callback> created(new Callback);
        created->start();
        s.instance = created.release();
    }
    return s.instance;
}

void Callback::close()
{
    HLV_TRACE(TRACE_CALLBACK, "%s", "Callback::close");
    Callback* closing = nullptr;
    {
        CallbackSingleton& s = singleton();
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.closed)
            return;
        if (s.instance != nullptr && s.instance->isCurrentThread()) {
            HLV_LOG("%s: refused on the Callback thread itself", "Callback::close");
            return;
        }
        s.closed = true;
        closing = s.instance;
    }
    if (closing != nullptr)
        thread::closeThread(*closing);
}

void Callback::post(Message* message)
{
    const bool streamBuffer =
        message != nullptr && (message->req == ids::DOWNLOAD_STREAM_MSG || message->req == ids::PLAYBACK_STREAM_MSG ||
                               message->req == ids::LIVE_STREAM_MSG);
    if (!streamBuffer || !halted()) {
        MsgThread::post(message);
        return;
    }
    // The thread is never re-created, so once per process is once per shutdown.
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        HLV_TRACE(thread::TRACE_LIFECYCLE,
                  "%s: the library has shut down; stream buffers still lent are not "
                  "handed back to the host",
                  "Callback::post");
    message->refuse(this);
}

bool Callback::onCallbackThread()
{
    CallbackSingleton& s = singleton();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.instance != nullptr && s.instance->isCurrentThread();
}

void Callback::postOwned(std::unique_ptr<Message> message)
{
    Callback* callback = factory();
    if (callback == nullptr || !message)
        return;
    message->owner = callback;
    callback->post(message.release());
}

Callback::Callback() : database_(new (std::nothrow) CallbackDb)
{
    if (!database_)
        HLV_LOG("Unable to allocate callbackInfo database.");
}

void Callback::messageHandle(Message* message)
{
    if (message == nullptr) {
        logPriority(thread::LOG_PRIORITY_DEBUG, "Callback::messageHandle: Unexpectedly null message!");
        return;
    }
    handle(*message, false);
}

void Callback::ownerMessage(Message* message)
{
    if (message == nullptr) {
        logPriority(thread::LOG_PRIORITY_DEBUG, "Callback::ownerMessage: Unexpectedly null message!");
        return;
    }
    handle(*message, true);
}

std::string Callback::messageName(uint32_t id) const
{
    switch (id) {
    case ids::CALLBACK_EVENT_MSG: return "CALLBACK_EVENT_MSG";
    case ids::CALLBACK_REGISTER_MSG: return "CALLBACK_REGISTER_MSG";
    case ids::CALLBACK_SUBSCRIBE_MSG: return "CALLBACK_SUBSCRIBE_MSG";
    case ids::DOWNLOAD_STREAM_MSG: return "DOWNLOAD_STREAM_MSG";
    case ids::PLAYBACK_STREAM_MSG: return "PLAYBACK_STREAM_MSG";
    case ids::LIVE_STREAM_MSG: return "LIVE_STREAM_MSG";
    default: return MsgThread::messageName(id);
    }
}

void Callback::handle(Message& message, bool owned)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: req=%d", "Callback::messageHandle", message.req);
    try {
        dispatch(message, owned);
    } catch (const thread::Exception& e) {
        HLV_LOG("%s: Exception processing callback message:\n  %s", "Callback::messageHandle", e.str().c_str());
        message.status = thread::MESSAGE_FAILED;
    } catch (const std::exception& e) {
        HLV_LOG("%s: std::exception processing callback message: %s", "Callback::messageHandle", e.what());
        message.status = thread::MESSAGE_FAILED;
    }
    try {
        finish(&message);
    } catch (const thread::Exception& e) {
        HLV_LOG("%s: Exception ending callback message:\n  %s", "Callback::messageHandle", e.str().c_str());
    }
}

// Registrations count only when addressed to this thread; the other requests are handled
// however they arrive, directly or along a message's route.
void Callback::dispatch(Message& message, bool owned)
{
    switch (message.req) {
    case thread::HALT:
    case thread::DUMP: message.status = thread::MESSAGE_DONE; return;
    case ids::CALLBACK_EVENT_MSG: handleCallback(message); return;
    case ids::CALLBACK_REGISTER_MSG:
        if (owned) {
            handleRegistration(message);
            return;
        }
        break;
    case ids::CALLBACK_SUBSCRIBE_MSG: handleSubscription(message); return;
    case ids::DOWNLOAD_STREAM_MSG:
    case ids::PLAYBACK_STREAM_MSG:
    case ids::LIVE_STREAM_MSG: handleStream(message); return;
    default: break;
    }
    logPriority(thread::LOG_PRIORITY_DEBUG,
                fmtToString("%s: Unrecognized message type: 0x%x", "Callback::messageHandle", message.req));
    message.status = thread::MESSAGE_FAILED;
}

void Callback::handleCallback(Message& message)
{
    auto* request = dynamic_cast<CallbackRequest*>(&message);
    CallbackDb* database = databaseFor(message, "Callback::handleCallback", request != nullptr,
                                       "Unexpectedly null CallbackRequest message!");
    if (database == nullptr)
        return;
    database->executeCallback(*request);
    message.status = thread::MESSAGE_DONE;
}

void Callback::handleRegistration(Message& message)
{
    auto* registration = dynamic_cast<CallbackRegister*>(&message);
    CallbackDb* database = databaseFor(message, "Callback::handleRegistration", registration != nullptr,
                                       "Unexpectedly null callbackInfo pointer.");
    if (database == nullptr)
        return;
    database->modifyRegistration(registration->client, registration->callback, registration->cookie);
    message.status = thread::MESSAGE_DONE;
}

void Callback::handleSubscription(Message& message)
{
    auto* subscription = dynamic_cast<CallbackSubscribe*>(&message);
    CallbackDb* database = databaseFor(message, "Callback::handleSubscription", subscription != nullptr,
                                       "Unexpectedly null message pointer.");
    if (database == nullptr)
        return;
    database->modifySubscription(subscription->client, subscription->camera, subscription->subscribe);
    message.status = thread::MESSAGE_DONE;
}

void Callback::handleStream(Message& message)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: m=%p", "Callback::handleStream", static_cast<void*>(&message));
    CallbackDb* database = databaseFor(message, "Callback::handleStream", streamBufferOf(&message) != nullptr,
                                       "Unexpectedly null _HxStream message!");
    if (database != nullptr)
        database->executeStreamCallback(message);
}

// Every handler starts here: the message counts as failed until the handler has done its work,
// and a message without the payload its number promises, or a thread without its database, is
// logged and goes no further.
CallbackDb* Callback::databaseFor(Message& message, const char* handler, bool payloadFound, const char* missingPayload)
{
    message.status = thread::MESSAGE_FAILED;
    if (!payloadFound) {
        logPriority(thread::LOG_PRIORITY_DEBUG, fmtToString("%s: %s", handler, missingPayload));
        return nullptr;
    }
    if (!database_) {
        logPriority(thread::LOG_PRIORITY_DEBUG, fmtToString("%s: Unexpectedly null callbackInfo pointer.", handler));
        return nullptr;
    }
    return database_.get();
}

// A failed message skips the rest of its route, and one with nowhere else to go ends here.
void Callback::finish(Message* message)
{
    const bool ownedElsewhere = message->owner != nullptr && message->owner != this;
    const bool routeToFollow = !message->routeEmpty() && message->status != thread::MESSAGE_FAILED;
    if (message->synchronous() || routeToFollow || ownedElsewhere) {
        message->forward();
        return;
    }
    delete message;
}

} // namespace halvex::callback

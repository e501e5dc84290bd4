// The requests the Callback thread accepts: deliver an event, (un)register a client's callback, (un)subscribe a camera.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <hx/hx.h>

#include "callback/callback_message_ids.h"
#include "hlv_thread/message.h"

namespace halvex::callback {

// An event for the host's callbacks. The request owns its data record; the host sees it only for
// the duration of its callback, after which the request and its record are deleted.
class CallbackRequest : public thread::Message {
public:
    CallbackRequest(uint32_t eventCode, HX_CAMERA_HANDLE cameraHandle)
        : event(eventCode), camera(cameraHandle), data_(nullptr, [](void*) {})
    {
        req = message_ids::CALLBACK_EVENT_MSG;
    }

    // Gives the request its own copy of the event's record (or value).
    template <class Record>
    void attach(const Record& record)
    {
        data_ = OwnedData(new Record(record), [](void* p) { delete static_cast<Record*>(p); });
    }

    void* data() const { return data_.get(); }

    uint32_t event;
    // Not used by delivery; senders may note a client handle here.
    uint64_t word = 0;
    HX_CAMERA_HANDLE camera;
    // Context for the log (Discovery puts a lost camera's name here); never passed to the host.
    std::string text;

private:
    using OwnedData = std::unique_ptr<void, void (*)(void*)>;
    OwnedData data_;
};

// Tells the Callback thread a client's callback and cookie; a NULL callback forgets the client.
class CallbackRegister : public thread::Message {
public:
    CallbackRegister(HX_CLIENT_HANDLE clientHandle, HX_CALLBACK callbackFunction, void* cookieValue)
        : client(clientHandle), callback(callbackFunction), cookie(cookieValue)
    {
        req = message_ids::CALLBACK_REGISTER_MSG;
    }

    HX_CLIENT_HANDLE client;
    HX_CALLBACK callback;
    void* cookie;
};

// Adds a camera to (or removes it from) a client's subscriptions.
class CallbackSubscribe : public thread::Message {
public:
    CallbackSubscribe(HX_CLIENT_HANDLE clientHandle, HX_CAMERA_HANDLE cameraHandle, bool subscribeFlag = true)
        : client(clientHandle), camera(cameraHandle), subscribe(subscribeFlag)
    {
        req = message_ids::CALLBACK_SUBSCRIBE_MSG;
    }

    HX_CLIENT_HANDLE client;
    HX_CAMERA_HANDLE camera;
    bool subscribe;
};

} // namespace halvex::callback

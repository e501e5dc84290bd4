// The callback database: which client has which callback and cookie, and which cameras it follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include <hx/hx.h>

#include "callback/callback_messages.h"

namespace halvex::callback {

// Used only on the Callback thread, so it needs no lock; every call into the host goes through
// it. Broadcast events reach clients in ascending client-handle order. An exception thrown by
// the host's code is caught around each call and logged; it never reaches the library.
class CallbackDb {
public:
    // A NULL callback removes the client with its subscriptions; otherwise sets the client's
    // callback and cookie, keeping its subscriptions.
    void modifyRegistration(HX_CLIENT_HANDLE client, HX_CALLBACK callback, void* cookie);
    // Throws RuntimeError when the client has no callback registered. Subscribing twice keeps one entry.
    void modifySubscription(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, bool subscribe);
    // Delivers an event to every client (discovery, end, negotiation) or to the camera's subscribers.
    void executeCallback(const CallbackRequest& request);
    // Copies a stream buffer's results into the host's record and hands it to the buffer's
    // client; sets the message's status (1 delivered, 2 not).
    void executeStreamCallback(thread::Message& message);

    bool hasClient(HX_CLIENT_HANDLE client) const;
    std::vector<HX_CAMERA_HANDLE> subscriptions(HX_CLIENT_HANDLE client) const;

private:
    struct CallbackSpec {
        HX_CALLBACK callback = nullptr;
        void* cookie = nullptr;
        std::vector<HX_CAMERA_HANDLE> cameras;
    };

    std::size_t deliverToAll(const CallbackRequest& request, void* data);
    std::size_t deliverToSubscribers(const CallbackRequest& request);
    // Calls the host; false when its code threw.
    static bool callHost(HX_CLIENT_HANDLE client, const CallbackSpec& spec, uint32_t event, HX_CAMERA_HANDLE camera,
                         void* data);

    std::map<HX_CLIENT_HANDLE, CallbackSpec> specs_;
};

} // namespace halvex::callback

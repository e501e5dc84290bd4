// The subscription request: a client subscribing to (or leaving) one camera's change events.
#pragma once

#include <memory>

#include <hx/hx.h>

#include "camera/camera_message_ids.h"
#include "hlv_thread/sync_message.h"

namespace halvex::camera {

class CameraServices;

// What a subscription asks of the camera's operations (they count their subscribers).
class SubscriptionRequest {
public:
    SubscriptionRequest(bool subscribeFlag, const std::shared_ptr<CameraServices>& serviceRef,
                        HX_CLIENT_HANDLE clientHandle, HX_CAMERA_HANDLE cameraHandle)
        : subscribe(subscribeFlag), service(serviceRef), client(clientHandle), camera(cameraHandle)
    {
    }
    virtual ~SubscriptionRequest() = default;

    bool subscribe;
    std::weak_ptr<CameraServices> service;
    HX_CLIENT_HANDLE client;
    HX_CAMERA_HANDLE camera;
};

// Sent by HX_subscribe/HX_unsubscribe to the camera's service thread and waited for; the service
// sets status 1 when the operations applied it.
class SubscriptionMessage : public thread::SyncMessage, public SubscriptionRequest {
public:
    SubscriptionMessage(bool subscribeFlag, const std::shared_ptr<CameraServices>& serviceRef,
                        HX_CLIENT_HANDLE clientHandle, HX_CAMERA_HANDLE cameraHandle)
        : SubscriptionRequest(subscribeFlag, serviceRef, clientHandle, cameraHandle)
    {
        req = message_ids::CAM_SUBSCRIBE_MSG;
    }
};

} // namespace halvex::camera

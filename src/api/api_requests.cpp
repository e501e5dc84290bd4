// The exported calls that travel to a camera's service thread or name a camera: commands, subscriptions, handles.
#include "api/api_interface.h"

#include <cstdio>
#include <memory>

#include "api/client_context.h"
#include "api/unselected_fields.h"
#include "callback/callback.h"
#include "callback/callback_messages.h"
#include "camera/camera_address.h"
#include "camera/command.h"
#include "camera/subscription.h"
#include "discovery/discovery_seam.h"

using namespace halvex::api::frame;
using halvex::api::client_context::ClientContext;
using halvex::thread::TRACE_API;
using halvex::thread::TRACE_DISCOVERY;

namespace halvex::api {

using camera::CameraServices;
using camera::Command;
using camera::dottedAddress;
using camera::SubscriptionMessage;

namespace {

// Four decimal numbers of at most three digits each, separated by dots.
bool isDottedAddress(const char* text)
{
    unsigned parts[4] = {};
    char tail = '\0';
    return std::sscanf(text, "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) == 4 &&
           parts[0] < 256 && parts[1] < 256 && parts[2] < 256 && parts[3] < 256;
}

// A command whose reply differs from the request in state or caps is marked changed.
void markChange(const HX_COMMAND& request, HX_COMMAND& reply)
{
    if (reply.code != request.code || reply.code_caps != request.code_caps) {
        reply.code_flags |= HX_FLAG_CHG;
        reply.flags |= HX_FLAG_CHG;
    }
}

HX_STATUS runCommand(HX_CAMERA_HANDLE camera, HX_COMMAND* in, HX_COMMAND* out)
{
    std::shared_ptr<CameraServices> service = serviceFor(camera);
    // The service thread would log the failure and hand back the record untouched, which looks
    // like an answer; a camera without a family fails here, after the line naming its model.
    if (!service->hasOperations())
        HLV_THROW(thread::RuntimeError, "HX_command_syn(%s): camera not recognised", dottedAddress(camera).c_str());
    reportUnselectedFields("HX_command_syn", *in);
    Command command(service, *in);
    command.send(service.get());
    HX_COMMAND reply = command.record();
    markChange(*in, reply);
    *out = reply;
    dump("[OUT]", out, TRACE_DISCOVERY);
    return HX_STATUS_OK;
}

// The Callback thread learns of the subscription first, without being waited for.
void tellCallbackThread(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, bool subscribe)
{
    callback::Callback::postOwned(std::make_unique<callback::CallbackSubscribe>(client, camera, subscribe));
}

HX_STATUS changeSubscription(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, bool subscribe)
{
    requireClient(client);
    requireCamera(camera);
    if (!ClientContext::instance().clientHasCallback(client))
        HLV_THROW(thread::RuntimeError, "Cannot subscribe; client has no callback function registered");
    std::shared_ptr<CameraServices> service = serviceFor(camera);
    tellCallbackThread(client, camera, subscribe);
    SubscriptionMessage message(subscribe, service, client, camera);
    message.send(service.get());
    if (message.status == thread::MESSAGE_DONE)
        return HX_STATUS_OK;
    if (subscribe) {
        // Events for a subscription that failed would reach the client all the same.
        tellCallbackThread(client, camera, false);
        HLV_THROW(thread::RuntimeError, "Camera services could not complete \"subscribe\" request");
    }
    HLV_THROW(thread::RuntimeError, "Camera service could not complete \"unsubscribe\" request");
}

HX_STATUS lookUpCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE* camera, const char* name)
{
    // Discovery starts first, whatever the arguments, as registering would have started it.
    const bool discovering = discovery::seam::start(discovery::seam::localInterfacesOnly());
    requireClient(client);
    if (camera == nullptr || name == nullptr || name[0] == '\0')
        HLV_THROW(thread::RuntimeError, "NULL pointer or zero-length string in API call");
    if (!discovering)
        HLV_THROW(thread::RuntimeError, "Cannot look up \"%s\": discovery has stopped (HX_shutdown)", name);
    uint32_t address = 0;
    if (!discovery::seam::findCamera(name, address) && !discovery::seam::addCamera(name, address)) {
        // A silent failure would leave the host guessing between a typing error and a camera
        // that is switched off.
        const std::string refused = isDottedAddress(name) ? discovery::seam::refusal(address) : std::string();
        if (!refused.empty())
            HLV_LOG("HX_get_handle_by_name: a camera answered at %s: %s", name, refused.c_str());
        else if (isDottedAddress(name))
            HLV_LOG("HX_get_handle_by_name: no camera answered at %s", name);
        else
            HLV_LOG("HX_get_handle_by_name: no camera named \"%s\" has been discovered (a camera on another "
                    "subnet or on loopback is found by its address)",
                    name);
        return HX_STATUS_ERROR;
    }
    // A camera found again after its handle was released gets a fresh service.
    if (!CameraServices::factory(address))
        HLV_THROW(thread::RuntimeError, "Cannot add \"%s\" to the camera database.", name);
    *camera = address;
    return HX_STATUS_OK;
}

} // namespace

} // namespace halvex::api

using halvex::api::changeSubscription;
using halvex::api::lookUpCamera;
using halvex::api::runCommand;
using halvex::camera::CameraServices;
using halvex::camera::dottedAddress;
using halvex::camera::handleIsAddress;

extern "C" {

HX_STATUS HX_command_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_COMMAND* in, HX_COMMAND* out)
{
    HLV_TRACE(TRACE_DISCOVERY, "%s", "HX_command_syn");
    dump("[IN]", in, TRACE_DISCOVERY);
    if (client == 0 || camera == 0)
        return HX_STATUS_OK;
    return protectedCall("", [&] {
        requireClient(client);
        requireCamera(camera);
        if (in == nullptr || out == nullptr)
            return HX_STATUS_OK;
        return runCommand(camera, in, out);
    });
}

HX_STATUS HX_subscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_subscribe", asPointer(client), dottedAddress(camera).c_str());
    return protectedCall("", [&] { return changeSubscription(client, camera, true); });
}

HX_STATUS HX_unsubscribe(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_unsubscribe", asPointer(client), dottedAddress(camera).c_str());
    const HX_STATUS status = protectedCall("", [&] { return changeSubscription(client, camera, false); });
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s [FINISHED]", "HX_unsubscribe", asPointer(client),
              dottedAddress(camera).c_str());
    return status;
}

HX_STATUS HX_release_handle(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p cam=%s", "HX_release_handle", asPointer(client), dottedAddress(camera).c_str());
    return protectedCall("", [&] {
        if (handleIsAddress(camera))
            CameraServices::recycle(static_cast<uint32_t>(camera));
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_get_handle_by_name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE* camera, const char* name)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, name=%s", "HX_get_handle_by_name", asPointer(client),
              name != nullptr ? name : "(null)");
    return protectedCall("Could not get camera handle. ", [&] { return lookUpCamera(client, camera, name); });
}

} // extern "C"

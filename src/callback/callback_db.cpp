// The callback database: which client has which callback and cookie, and which cameras it follows.
#include "callback/callback_db.h"

#include <algorithm>
#include <exception>

#include "callback/hx_stream.h"
#include "camera/camera_address.h"
#include "camera/camera_message_ids.h"
#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::callback {

using camera::dottedAddress;
using thread::fmtToString;

namespace {

using thread::TRACE_CALLBACK;
namespace ids = message_ids;

void* asPointer(uintptr_t handle)
{
    return reinterpret_cast<void*>(handle);
}

unsigned long long asNumber(HX_CALLBACK callback)
{
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(callback));
}

bool broadcastEvent(uint32_t event)
{
    return event == HX_DISCOVERY || event == HX_END || event == HX_STREAM_NEGOTIATION;
}

bool subscriberEvent(uint32_t event)
{
    return (event >= HX_CAPTURE_CHANGE && event <= HX_STREAM_CHANGE) || event == HX_PROGRESS_UPDATE;
}

const char* broadcastName(uint32_t event)
{
    switch (event) {
    case HX_DISCOVERY: return "HX_DISCOVERY";
    case HX_END: return "HX_END";
    default: return "HX_STREAM_NEGOTIATION";
    }
}

uint32_t streamEvent(uint32_t req)
{
    switch (req) {
    case ids::DOWNLOAD_STREAM_MSG: return HX_DOWNLOAD_DATA;
    case ids::PLAYBACK_STREAM_MSG: return HX_PLAYBACK_DATA;
    case ids::LIVE_STREAM_MSG: return HX_LIVE_DATA;
    default: HLV_THROW(thread::LogicError, "Unrecognized protocol in stream callback: %d", req);
    }
}

} // namespace

void CallbackDb::modifyRegistration(HX_CLIENT_HANDLE client, HX_CALLBACK callback, void* cookie)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: cli_h=0x%llx, cb_func=0x%llx", "CallbackDb::modifyRegistration",
              static_cast<unsigned long long>(client), asNumber(callback));
    if (callback == nullptr) {
        if (specs_.erase(client) > 1)
            HLV_THROW(thread::LogicError, "Erased more than one callback spec");
        return;
    }
    CallbackSpec& spec = specs_[client];
    spec.callback = callback;
    spec.cookie = cookie;
}

void CallbackDb::modifySubscription(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, bool subscribe)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: cli_h=0x%llx, cam_h=%s, subscribe=%c", "CallbackDb::modifySubscription",
              static_cast<unsigned long long>(client), dottedAddress(camera).c_str(), subscribe ? 'T' : 'F');
    auto found = specs_.find(client);
    if (found == specs_.end()) {
        if (subscribe)
            HLV_THROW(thread::RuntimeError, "No callback registered for client; cannot subscribe camera");
        HLV_THROW(thread::RuntimeError, "No callback registered for client; cannot unsubscribe camera");
    }
    std::vector<HX_CAMERA_HANDLE>& cameras = found->second.cameras;
    auto position = std::find(cameras.begin(), cameras.end(), camera);
    if (subscribe) {
        if (position != cameras.end()) {
            HLV_TRACE(TRACE_CALLBACK, "%s: camera is already subscribed!", "CallbackDb::modifySubscription");
            return;
        }
        cameras.push_back(camera);
    } else if (position != cameras.end()) {
        cameras.erase(position);
    }
}

void CallbackDb::executeCallback(const CallbackRequest& request)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: event=%d", "CallbackDb::executeCallback", request.event);
    if (broadcastEvent(request.event)) {
        void* data = request.event == HX_END ? nullptr : request.data();
        const std::size_t called = deliverToAll(request, data);
        HLV_TRACE(TRACE_CALLBACK, "%s: %s done. [%d]", "CallbackDb::executeCallback", broadcastName(request.event),
                  static_cast<int>(called));
    } else if (subscriberEvent(request.event)) {
        deliverToSubscribers(request);
        HLV_TRACE(TRACE_CALLBACK, "%s: event=%d done.", "CallbackDb::executeCallback", request.event);
    } else {
        thread::logRaw(thread::LOG_PRIORITY_DEBUG, fmtToString("%s: Unrecognized callback event: %d",
                                                               "CallbackDb::executeCallback", request.event));
    }
}

std::size_t CallbackDb::deliverToAll(const CallbackRequest& request, void* data)
{
    std::size_t called = 0;
    for (const auto& [client, spec] : specs_) {
        callHost(client, spec, request.event, request.camera, data);
        ++called;
    }
    return called;
}

std::size_t CallbackDb::deliverToSubscribers(const CallbackRequest& request)
{
    std::size_t called = 0;
    for (const auto& [client, spec] : specs_) {
        if (std::find(spec.cameras.begin(), spec.cameras.end(), request.camera) == spec.cameras.end())
            continue;
        callHost(client, spec, request.event, request.camera, request.data());
        ++called;
    }
    return called;
}

void CallbackDb::executeStreamCallback(thread::Message& message)
{
    HLV_TRACE(TRACE_CALLBACK, "%s: req=%d, m=%p", "CallbackDb::executeStreamCallback", message.req,
              static_cast<void*>(&message));
    const uint32_t event = streamEvent(message.req);
    message.status = thread::MESSAGE_FAILED;
    HxStreamBuffer* stream = streamBufferOf(&message);
    if (stream == nullptr) {
        thread::logRaw(thread::LOG_PRIORITY_DEBUG,
                       fmtToString("%s: Unexpectedly null stream_msg!", "CallbackDb::executeStreamCallback"));
        return;
    }
    const HX_CLIENT_HANDLE client = stream->clientHandle();
    auto found = specs_.find(client);
    if (found == specs_.end()) {
        HLV_TRACE(TRACE_CALLBACK, "%s: Client handle [%p] not found", "CallbackDb::executeStreamCallback",
                  asPointer(client));
        return;
    }
    const std::string camera = dottedAddress(stream->cameraHandle());
    void* data = nullptr;
    if (stream->stop) {
        HLV_TRACE(TRACE_CALLBACK, "%s: Cancel stream [cam=%s]", "CallbackDb::executeStreamCallback", camera.c_str());
    } else {
        stream->copyBack();
        data = stream->hostRecord();
        HLV_TRACE(TRACE_CALLBACK, "%s: Returning stream to client [cam=%s, frame_id=%d]",
                  "CallbackDb::executeStreamCallback", camera.c_str(), static_cast<int>(stream->record().frame_id));
    }
    if (callHost(client, found->second, event, stream->cameraHandle(), data))
        message.status = thread::MESSAGE_DONE;
}

bool CallbackDb::callHost(HX_CLIENT_HANDLE client, const CallbackSpec& spec, uint32_t event, HX_CAMERA_HANDLE camera,
                          void* data)
{
    try {
        spec.callback(event, client, camera, data, spec.cookie);
        return true;
    } catch (const std::exception& e) {
        thread::logRaw(thread::LOG_PRIORITY_ERROR,
                       fmtToString("User callback generated a std::exception:\n  %s", e.what()));
    } catch (...) {
        thread::logRaw(thread::LOG_PRIORITY_ERROR,
                       "User callback generated a non-standard exception (other than std::exception)");
    }
    return false;
}

bool CallbackDb::hasClient(HX_CLIENT_HANDLE client) const
{
    return specs_.count(client) != 0;
}

std::vector<HX_CAMERA_HANDLE> CallbackDb::subscriptions(HX_CLIENT_HANDLE client) const
{
    auto found = specs_.find(client);
    return found == specs_.end() ? std::vector<HX_CAMERA_HANDLE>{} : found->second.cameras;
}

} // namespace halvex::callback

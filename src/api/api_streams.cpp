// The exported stream calls: each hands one host buffer (or a live switch) to the camera's service thread.
#include <new>

#include "api/api_interface.h"
#include "callback/callback.h"
#include "callback/hx_stream.h"
#include "camera/camera_address.h"
#include "camera/camera_message_ids.h"

using namespace halvex::api::frame;
using halvex::thread::TRACE_API;
namespace ids = halvex::message_ids;

namespace halvex::api {

using callback::HxStream;
using camera::CameraServices;

namespace {

void validateBuffer(const HX_READ_STREAM* info, bool needsMinimumSize)
{
    if (info == nullptr)
        return;
    if (info->buffer == nullptr || (needsMinimumSize && info->buffer_size < HX_STREAM_MIN_BUFFER_SIZE))
        HLV_THROW(thread::RuntimeError, "Received data buffer not valid in API call (NULL pointer, or size too small)");
}

[[noreturn]] void allocationFailed(uint32_t streamKind)
{
    if (streamKind == ids::LIVE_STREAM_MSG)
        HLV_THROW(thread::RuntimeError, "Unable to allocate memory for the live message.");
    if (streamKind == ids::PLAYBACK_STREAM_MSG)
        HLV_THROW(thread::RuntimeError, "Unable to allocate memory for the playback message.");
    HLV_THROW(thread::RuntimeError, "Unable to allocate memory for the download message.");
}

callback::Callback& callbackThread()
{
    callback::Callback* thread = callback::Callback::factory();
    if (thread == nullptr)
        HLV_THROW(thread::RuntimeError, "The callback thread has been shut down");
    return *thread;
}

// The buffer goes to the camera's service thread and, once filled or given up, on to the
// Callback thread, which owns it and hands it to the host.
template <class Stream>
void routeToHost(Stream& message, bool enable)
{
    callback::Callback& callback = callbackThread();
    message.enable = enable;
    message.pushRoute(&callback);
    message.owner = &callback;
}

HX_STATUS postStream(uint32_t streamKind, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info,
                     bool enable)
{
    std::shared_ptr<CameraServices> service = serviceFor(camera);
    service->requireStreamService(streamKind);
    auto* message = new (std::nothrow) HxStream<thread::Message>(streamKind, info, service, client, camera);
    if (message == nullptr)
        allocationFailed(streamKind);
    std::unique_ptr<HxStream<thread::Message>> owned(message);
    routeToHost(*owned, enable);
    service->post(owned.release());
    return HX_STATUS_OK;
}

HX_STATUS streamCall(uint32_t streamKind, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info,
                     bool needsMinimumSize, bool enable)
{
    return protectedCall("", [&] {
        requireClient(client);
        requireCamera(camera);
        validateBuffer(info, needsMinimumSize);
        return postStream(streamKind, client, camera, info, enable);
    });
}

// The synchronous download waits until the Callback thread has handed the buffer to the host,
// so it cannot run on the Callback thread itself.
HX_STATUS downloadAndWait(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)
{
    refuseOnCallbackThread("HX_download_syn");
    requireClient(client);
    requireCamera(camera);
    if (info == nullptr)
        HLV_THROW(thread::RuntimeError, "Unexpectedly null HX_READ_STREAM pointer.");
    validateBuffer(info, false);
    std::shared_ptr<CameraServices> service = serviceFor(camera);
    service->requireStreamService(ids::DOWNLOAD_STREAM_MSG);
    HxStream<thread::SyncMessage> message(ids::DOWNLOAD_STREAM_MSG, info, service, client, camera);
    routeToHost(message, true);
    message.send(service.get());
    return HX_STATUS_OK;
}

} // namespace

} // namespace halvex::api

using halvex::api::downloadAndWait;
using halvex::api::streamCall;
using halvex::camera::dottedAddress;

extern "C" {

HX_STATUS HX_live(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, info=%p", "HX_live", asPointer(client), dottedAddress(camera).c_str(),
              static_cast<void*>(info));
    dump("[IN]", info);
    return streamCall(ids::LIVE_STREAM_MSG, client, camera, info, true, false);
}

HX_STATUS HX_live_enable(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, int on_off)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, on_off=%d", "HX_live_enable", asPointer(client),
              dottedAddress(camera).c_str(), on_off);
    return streamCall(ids::LIVE_STREAM_MSG, client, camera, nullptr, false, on_off != 0);
}

HX_STATUS HX_play(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, info=%p", "HX_play", asPointer(client), dottedAddress(camera).c_str(),
              static_cast<void*>(info));
    dump("[IN]", info);
    return streamCall(ids::PLAYBACK_STREAM_MSG, client, camera, info, true, false);
}

HX_STATUS HX_download(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, info=%p", "HX_download", asPointer(client),
              dottedAddress(camera).c_str(), static_cast<void*>(info));
    dump("[IN]", info);
    return streamCall(ids::DOWNLOAD_STREAM_MSG, client, camera, info, false, true);
}

HX_STATUS HX_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, info=%p", "HX_download_syn", asPointer(client),
              dottedAddress(camera).c_str(), static_cast<void*>(info));
    dump("[IN]", info);
    return protectedCall("", [&] { return downloadAndWait(client, camera, info); });
}

} // extern "C"

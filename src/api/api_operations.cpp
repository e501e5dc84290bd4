// The exported settings and status calls: most run the camera's operation on the caller's thread;
// those whose records drive the camera's streams run it on the camera's service thread.
#include "api/api_interface.h"
#include "api/unselected_fields.h"
#include "camera/camera_address.h"
#include "camera/camera_services_request.h"

using namespace halvex::api::frame;
using halvex::thread::TRACE_API;

namespace halvex::api {

using camera::CameraServices;
using camera::dottedAddress;
using camera::ServiceOperations;
using camera::SetupRequest;

namespace {

// The setup calls: the operation works on the input record in place; the output record is
// written only after it returned normally, so a failed call never leaves a partial copy.
template <class Record, class Apply>
HX_STATUS setupCall(const char* call, const char* prefix, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, Record* in,
                    Record* out, Apply apply)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", call, asPointer(client), dottedAddress(camera).c_str());
    dump("[IN]", in);
    return cameraCall(prefix, client, camera, {in, out}, [&](CameraServices& service) {
        requireVersion(in->ver_maj, in->ver_min);
        reportUnselectedFields(call, *in);
        apply(service, in);
        if (out != in)
            *out = *in;
        dump("[OUT]", out);
        return HX_STATUS_OK;
    });
}

// The setup calls whose records drive the camera's streams: the operation runs on the camera's
// service thread, in turn with the stream buffers and commands posted before it, and its outcome
// (or what it threw) comes back to this thread.
template <class Record>
HX_STATUS setupInTurn(const char* call, HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, Record* in, Record* out,
                      void (ServiceOperations::*apply)(Record*))
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", call, asPointer(client), dottedAddress(camera).c_str());
    dump("[IN]", in);
    return cameraCall("", client, camera, {in, out}, [&](const std::shared_ptr<CameraServices>& service) {
        requireVersion(in->ver_maj, in->ver_min);
        reportUnselectedFields(call, *in);
        SetupRequest<Record> request(service, *in, apply);
        request.sendAndApply(*service, *in);
        if (out != in)
            *out = *in;
        dump("[OUT]", out);
        return HX_STATUS_OK;
    });
}

HX_STATUS statusOf(bool succeeded)
{
    return succeeded ? HX_STATUS_OK : HX_STATUS_ERROR;
}

} // namespace

} // namespace halvex::api

using halvex::api::setupCall;
using halvex::api::setupInTurn;
using halvex::api::statusOf;
using halvex::camera::CameraServices;
using halvex::camera::dottedAddress;
using halvex::camera::ServiceOperations;

extern "C" {

HX_STATUS HX_setup_capture_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_CAPTURE_SETTINGS* in,
                               HX_CAPTURE_SETTINGS* out)
{
    return setupCall("HX_setup_capture_syn", "Could not setup capture. ", client, camera, in, out,
                     [](CameraServices& service, HX_CAPTURE_SETTINGS* record) {
                         service.requiredOperations()->setCaptureSettings(record);
                     });
}

HX_STATUS HX_setup_download_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_DOWNLOAD_SETTINGS* in,
                                HX_DOWNLOAD_SETTINGS* out)
{
    return setupInTurn("HX_setup_download_syn", client, camera, in, out, &ServiceOperations::setDownloadSettings);
}

HX_STATUS HX_setup_io_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_IO_SETTINGS* in, HX_IO_SETTINGS* out)
{
    return setupCall("HX_setup_io_syn", "", client, camera, in, out,
                     [](CameraServices& service, HX_IO_SETTINGS* record) {
                         service.requiredOperations()->setExternalIOSettings(record);
                     });
}

HX_STATUS HX_setup_lens_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_LENS_SETTINGS* in)
{
    return setupCall("HX_setup_lens_syn", "", client, camera, in, in,
                     [](CameraServices& service, HX_LENS_SETTINGS* record) {
                         service.requiredOperations()->setLensSettings(record);
                     });
}

HX_STATUS HX_setup_playback_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_PLAYBACK_SETTINGS* in,
                                HX_PLAYBACK_SETTINGS* out)
{
    return setupInTurn("HX_setup_playback_syn", client, camera, in, out, &ServiceOperations::setPlaybackSettings);
}

HX_STATUS HX_setup_stream_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_STREAM_SETTINGS* in,
                              HX_STREAM_SETTINGS* out)
{
    return setupInTurn("HX_setup_stream_syn", client, camera, in, out, &ServiceOperations::setStreamSettings);
}

HX_STATUS HX_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_ANALOG_GAIN* in, HX_ANALOG_GAIN* out)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, in=%p, out=%p", "HX_analog_gain", asPointer(client),
              dottedAddress(camera).c_str(), static_cast<void*>(in), static_cast<void*>(out));
    dump("[IN]", in);
    return cameraCall("", client, camera, {}, [&](CameraServices& service) {
        if (in != nullptr) {
            requireVersion(in->ver_maj, in->ver_min);
            service.requiredOperations()->setAnalogGain(in);
        }
        if (out != nullptr) {
            service.requiredOperations()->getAnalogGain(out);
            dump("[OUT]", out);
        }
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_get_battery_info(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_BATTERY_INFO* out)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, out=%p", "HX_get_battery_info", asPointer(client),
              dottedAddress(camera).c_str(), static_cast<void*>(out));
    return cameraCall("", client, camera, {out}, [&](CameraServices& service) {
        service.requiredOperations()->getBatteryInfo(out);
        dump("[OUT]", out);
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_get_camera_information_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_CAMERA_INFORMATION* out)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, out=%p", "HX_get_camera_information_syn", asPointer(client),
              dottedAddress(camera).c_str(), static_cast<void*>(out));
    return cameraCall("Could not get info strings. ", client, camera, {out}, [&](CameraServices& service) {
        service.requiredOperations()->getCameraInformation(out);
        dump("[OUT]", out);
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_get_camera_media_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, char* json_data,
                                  uint32_t* json_length)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam_h=%s, jsonData=%p, jsonLength=%p", "HX_get_camera_media_syn",
              asPointer(client), dottedAddress(camera).c_str(), static_cast<void*>(json_data),
              static_cast<void*>(json_length));
    // Without a buffer the call only measures: the text's length comes back, so that a host can
    // allocate the room before it reads.
    return cameraCall("Could not get media information. ", client, camera, {json_length}, [&](CameraServices& service) {
        if (json_data != nullptr) {
            service.requiredOperations()->getCameraMedia(json_data, json_length);
            return HX_STATUS_OK;
        }
        char none[1];
        uint32_t room = sizeof none;
        service.requiredOperations()->getCameraMedia(none, &room);
        *json_length = room;
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_get_lens_status(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_LENS_STATUS* out)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, name=%s", "HX_get_lens_status", asPointer(client),
              dottedAddress(camera).c_str());
    return cameraCall("Could not read the lens status. ", client, camera, {out}, [&](CameraServices& service) {
        service.requiredOperations()->getLensStatus(out);
        dump("[OUT]", out);
        return HX_STATUS_OK;
    });
}

HX_STATUS HX_temperature_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_TEMPERATURE* out)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_temperature_syn", asPointer(client),
              dottedAddress(camera).c_str());
    return cameraCall("", client, camera, {out}, [&](CameraServices& service) {
        const bool read = service.requiredOperations()->getTemperature(out);
        dump("[OUT]", out);
        return statusOf(read);
    });
}

HX_STATUS HX_lockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_lockCamera", asPointer(client), dottedAddress(camera).c_str());
    return cameraCall("", client, camera, {},
                      [](CameraServices& service) { return statusOf(service.requiredOperations()->lockCamera()); });
}

HX_STATUS HX_unlockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_unlockCamera", asPointer(client), dottedAddress(camera).c_str());
    return cameraCall("", client, camera, {},
                      [](CameraServices& service) { return statusOf(service.requiredOperations()->unlockCamera()); });
}

HX_STATUS HX_camera_save(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const char* json)
{
    HLV_TRACE(TRACE_API, "%s: cli_h=%p, cam=%s", "HX_camera_save", asPointer(client), dottedAddress(camera).c_str());
    return cameraCall("Could not start the camera save. ", client, camera, {}, [&](CameraServices& service) {
        if (json == nullptr || json[0] == '\0')
            HLV_THROW(halvex::thread::RuntimeError, "%s: The Json string was empty!", "HX_camera_save");
        service.requiredOperations()->startCameraSave(json);
        return HX_STATUS_OK;
    });
}

} // extern "C"

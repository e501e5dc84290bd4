// The CS_HX_* calls for managed hosts: a trace line, then the HX_* call with the same arguments.
#include <cstdint>
#include <string>

#include <hx/hx.h>

#include "camera/camera_address.h"
#include "hlv_thread/format.h"
#include "hlv_thread/log.h"

using halvex::thread::TRACE_WRAPPER;

namespace halvex::api {

using camera::dottedAddress;
using camera::handleIsAddress;
using thread::fmtToString;

// The wrappers add no checks of their own: the HX_* call they make checks pointers and sizes.
// A few reshape arguments so that a managed host never passes NULL or receives a pointer into a
// local: CS_HX_get/set_analog_gain, CS_HX_register, CS_HX_get_handle_by_name, CS_HX_str_flags.

namespace {

void* asPointer(uintptr_t handle)
{
    return reinterpret_cast<void*>(handle);
}

// Camera handles show as dotted addresses, as in every other log line.
std::string cameraText(uintptr_t camera)
{
    return handleIsAddress(camera) ? dottedAddress(camera) : fmtToString("%p", asPointer(camera));
}

} // namespace

#define HX_CS_TRACE(...) HLV_TRACE(TRACE_WRAPPER, __VA_ARGS__)

} // namespace halvex::api

// The record arguments below are types, which cannot be parenthesised.
// NOLINTBEGIN(bugprone-macro-parentheses)

// Initialisers: "%s: s=%p, size=%d", with the size the record must have where the call checks one.
#define HX_CS_INIT(Name, Record)                                                                                       \
  HX_STATUS CS_HX_##Name(Record* record, uint32_t size)                                                                \
  {                                                                                                                    \
    HX_CS_TRACE("%s: s=%p, size=%d", "CS_HX_" #Name, static_cast<void*>(record), static_cast<int>(size));              \
    return HX_##Name(record, size);                                                                                    \
  }
#define HX_CS_INIT_SIZED(Name, Record)                                                                                 \
  HX_STATUS CS_HX_##Name(Record* record, uint32_t size)                                                                \
  {                                                                                                                    \
    HX_CS_TRACE("%s: s=%p, size=%d[%d]", "CS_HX_" #Name, static_cast<void*>(record), static_cast<int>(size),           \
                static_cast<int>(sizeof(Record)));                                                                     \
    return HX_##Name(record, size);                                                                                    \
  }

// Settings calls with an input and an output record.
#define HX_CS_IN_OUT(Name, Record)                                                                                     \
  HX_STATUS CS_HX_##Name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, Record* in, Record* out)                    \
  {                                                                                                                    \
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, in=%p, out=%p", "CS_HX_" #Name, asPointer(client),                            \
                cameraText(camera).c_str(), static_cast<void*>(in), static_cast<void*>(out));                          \
    return HX_##Name(client, camera, in, out);                                                                         \
  }

// Calls on one camera with one record: "%s: cli_h=%p, cam_h=%s, <label>=%p".
#define HX_CS_ONE_RECORD(Name, Record, label)                                                                          \
  HX_STATUS CS_HX_##Name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, Record* record)                             \
  {                                                                                                                    \
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, " label "=%p", "CS_HX_" #Name, asPointer(client), cameraText(camera).c_str(), \
                static_cast<void*>(record));                                                                           \
    return HX_##Name(client, camera, record);                                                                          \
  }
// NOLINTEND(bugprone-macro-parentheses)

// Calls on one camera without a record: "%s: [%p, %s]".
#define HX_CS_HANDLES(Name)                                                                                            \
  HX_STATUS CS_HX_##Name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)                                             \
  {                                                                                                                    \
    HX_CS_TRACE("%s: [%p, %s]", "CS_HX_" #Name, asPointer(client), cameraText(camera).c_str());                        \
    return HX_##Name(client, camera);                                                                                  \
  }

// Stream buffers handed over without waiting: "%s: [%p, %s] info=%p".
#define HX_CS_STREAM(Name)                                                                                             \
  HX_STATUS CS_HX_##Name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_READ_STREAM* info)                       \
  {                                                                                                                    \
    HX_CS_TRACE("%s: [%p, %s] info=%p", "CS_HX_" #Name, asPointer(client), cameraText(camera).c_str(),                 \
                static_cast<void*>(info));                                                                             \
    return HX_##Name(client, camera, info);                                                                            \
  }

using halvex::api::asPointer;
using halvex::api::cameraText;

extern "C" {

HX_STATUS CS_HX_register(HX_CLIENT_HANDLE* client, HX_CALLBACK callback, void* cookie)
{
    HX_CLIENT_HANDLE handle = 0;
    const HX_STATUS status = HX_register(&handle, callback, cookie);
    if (status == HX_STATUS_OK && client != nullptr)
        *client = handle;
    return status;
}

HX_STATUS CS_HX_unregister(HX_CLIENT_HANDLE client)
{
    return HX_unregister(client);
}

HX_STATUS CS_HX_shutdown(void)
{
    return HX_shutdown();
}

HX_STATUS CS_HX_discover_pause(uint8_t pause)
{
    return HX_discover_pause(pause);
}

unsigned CS_HX_trace(int enable)
{
    return HX_trace(enable);
}

HX_STATUS CS_HX_logger_file(const char* path)
{
    return HX_logger_file(path);
}

HX_STATUS CS_HX_logger_callback(HX_LOG_CALLBACK callback, void* context)
{
    return HX_logger_callback(callback, context);
}

HX_STATUS CS_HX_last_error(char* text, uint32_t size)
{
    return HX_last_error(text, size);
}

HX_CS_INIT(analog_gain_init, HX_ANALOG_GAIN)
HX_CS_INIT(battery_info_init, HX_BATTERY_INFO)
HX_CS_INIT(camera_information_init, HX_CAMERA_INFORMATION)
HX_CS_INIT(capture_settings_init, HX_CAPTURE_SETTINGS)
HX_CS_INIT(command_init, HX_COMMAND)
HX_CS_INIT(io_settings_init, HX_IO_SETTINGS)
HX_CS_INIT(lens_settings_init, HX_LENS_SETTINGS)
HX_CS_INIT(lens_status_init, HX_LENS_STATUS)
HX_CS_INIT_SIZED(download_settings_init, HX_DOWNLOAD_SETTINGS)
HX_CS_INIT_SIZED(playback_settings_init, HX_PLAYBACK_SETTINGS)
HX_CS_INIT_SIZED(read_stream_init, HX_READ_STREAM)
HX_CS_INIT_SIZED(stream_settings_init, HX_STREAM_SETTINGS)
HX_CS_INIT_SIZED(temperature_init, HX_TEMPERATURE)

HX_STATUS CS_HX_get_handle_by_name(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE* camera, const char* name)
{
    HX_CS_TRACE("%s: [%p, %s]", "CS_HX_get_handle_by_name", asPointer(client), name != nullptr ? name : "(null)");
    HX_CAMERA_HANDLE handle = 0;
    const HX_STATUS status = HX_get_handle_by_name(client, &handle, name);
    if (status == HX_STATUS_OK && camera != nullptr)
        *camera = handle;
    HX_CS_TRACE("%s: %s [%p, %s]", "CS_HX_get_handle_by_name", status == HX_STATUS_OK ? "OK" : "ERROR",
                static_cast<void*>(camera), cameraText(handle).c_str());
    return status;
}

HX_CS_IN_OUT(setup_capture_syn, HX_CAPTURE_SETTINGS)
HX_CS_IN_OUT(setup_download_syn, HX_DOWNLOAD_SETTINGS)
HX_CS_IN_OUT(setup_io_syn, HX_IO_SETTINGS)
HX_CS_IN_OUT(setup_playback_syn, HX_PLAYBACK_SETTINGS)
HX_CS_IN_OUT(setup_stream_syn, HX_STREAM_SETTINGS)
HX_CS_IN_OUT(command_syn, HX_COMMAND)

HX_CS_ONE_RECORD(setup_lens_syn, HX_LENS_SETTINGS, "lens_settings")
HX_CS_ONE_RECORD(get_battery_info, HX_BATTERY_INFO, "out")
HX_CS_ONE_RECORD(get_camera_information_syn, HX_CAMERA_INFORMATION, "out")
HX_CS_ONE_RECORD(get_lens_status, HX_LENS_STATUS, "in")
HX_CS_ONE_RECORD(temperature_syn, HX_TEMPERATURE, "info")
HX_CS_ONE_RECORD(play, HX_READ_STREAM, "info")
HX_CS_ONE_RECORD(download_syn, HX_READ_STREAM, "info")

HX_CS_HANDLES(release_handle)
HX_CS_HANDLES(subscribe)
HX_CS_HANDLES(unsubscribe)

HX_CS_STREAM(live)
HX_CS_STREAM(download)

HX_STATUS CS_HX_get_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_ANALOG_GAIN* out)
{
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, out=%p", "CS_HX_get_analog_gain", asPointer(client),
                cameraText(camera).c_str(), static_cast<void*>(out));
    return HX_analog_gain(client, camera, nullptr, out);
}

HX_STATUS CS_HX_set_analog_gain(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, HX_ANALOG_GAIN* in)
{
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, in=%p", "CS_HX_set_analog_gain", asPointer(client), cameraText(camera).c_str(),
                static_cast<void*>(in));
    return HX_analog_gain(client, camera, in, nullptr);
}

HX_STATUS CS_HX_get_camera_media_syn(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, char* json_data,
                                     uint32_t* json_length)
{
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, jsonData=%p jsonLength=%p", "CS_HX_get_camera_media_syn", asPointer(client),
                cameraText(camera).c_str(), static_cast<void*>(json_data), static_cast<void*>(json_length));
    return HX_get_camera_media_syn(client, camera, json_data, json_length);
}

HX_STATUS CS_HX_lockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    return HX_lockCamera(client, camera);
}

HX_STATUS CS_HX_unlockCamera(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera)
{
    return HX_unlockCamera(client, camera);
}

HX_STATUS CS_HX_camera_save(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, const char* json)
{
    HX_CS_TRACE("%s: cli_h=%p, cam_h=%s, json=%s", "CS_HX_camera_save", asPointer(client), cameraText(camera).c_str(),
                json != nullptr ? json : "(null)");
    return HX_camera_save(client, camera, json);
}

HX_STATUS CS_HX_live_enable(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, int enable)
{
    HX_CS_TRACE("%s: [%p, %s] enable=%d", "CS_HX_live_enable", asPointer(client), cameraText(camera).c_str(), enable);
    return HX_live_enable(client, camera, enable);
}

// One buffer for every caller: the text stays valid until the next call.
const char* CS_HX_str_flags(int flags)
{
    static char text[32];
    HX_str_flags(flags, text, sizeof text);
    HX_CS_TRACE("%s: 0x%x returns '%s'", "CS_HX_str_flags", static_cast<unsigned>(flags), text);
    return text;
}

} // extern "C"

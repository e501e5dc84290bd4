// hxview camera view.
#include "camera_view.h"

#include <chrono>

#include "capture_apply.h"
#include "capture_fields.h"
#include "json_text.h"
#include "pixel_depth.h"
#include "session.h"

namespace hxview {
namespace {

// How long a request for the next live image waits before the page asks again.
constexpr auto kLiveWait = std::chrono::seconds(2);

Json::Value captureJson(const HX_CAPTURE_SETTINGS& record, const HX_CAPTURE_SETTINGS* requested)
{
    Json::Value fields(Json::arrayValue);
    for (const halvex::common::CaptureFieldView& view : halvex::common::captureFieldViews(record, requested)) {
        Json::Value field;
        field["key"] = view.key;
        field["value"] = view.value;
        field["limits"] = view.limits;
        if (view.hasRange) {
            field["min"] = view.min;
            field["max"] = view.max;
        }
        if (!view.choices.empty()) {
            field["choices"] = Json::Value(Json::arrayValue);
            for (const std::string& choice : view.choices)
                field["choices"].append(choice);
        }
        field["refused"] = view.refused;
        field["changed"] = view.changed;
        fields.append(field);
    }
    Json::Value json;
    json["fields"] = fields;
    return json;
}

Json::Value stateJson(const HX_COMMAND& state)
{
    Json::Value json;
    json["state"] = stateName(state.code);
    json["arm"] = (state.code_caps & HX_CMD_ARM) != 0;
    json["trigger"] = (state.code_caps & HX_CMD_TRIGGER) != 0;
    return json;
}

Reply jsonReply(const Json::Value& json)
{
    return Reply{200, writeJson(json)};
}

} // namespace

Reply errorReply(int status, const std::string& text)
{
    Json::Value json;
    json["error"] = text;
    return Reply{status, writeJson(json)};
}

std::string stateName(uint32_t code)
{
    switch (code) {
    case HX_CAMERA_STATE_IDLE: return "idle";
    case HX_CAMERA_STATE_ARM: return "armed";
    case HX_CAMERA_STATE_TRIGGER: return "recording";
    case HX_CAMERA_STATE_REVIEW: return "review";
    case HX_CAMERA_STATE_BUSY: return "busy";
    default: return "unknown";
    }
}

CameraView::CameraView(HX_CLIENT_HANDLE client, HX_CAMERA_HANDLE camera, EventFeed& feed, std::string downloads)
    : client_(client), camera_(camera), feed_(feed), live_(client, camera), frames_(client, camera),
      download_(client, camera, feed, std::move(downloads))
{
    HX_subscribe(client_, camera_);
}

void CameraView::stop()
{
    live_.stop();
    download_.join();
}

std::string CameraView::address() const
{
    return halvex::common::cameraAddress(camera_);
}

void CameraView::event(uint32_t event, void* data)
{
    Json::Value json;
    json["camera"] = address();
    switch (event) {
    case HX_LIVE_DATA: live_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_PLAYBACK_DATA: frames_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_DOWNLOAD_DATA: download_.returned(static_cast<HX_READ_STREAM*>(data)); return;
    case HX_STREAM_NEGOTIATION:
        if (data != nullptr)
            live_.negotiated(*static_cast<const int32_t*>(data));
        return;
    case HX_STATE:
        if (data == nullptr)
            return;
        json = stateJson(*static_cast<const HX_COMMAND*>(data));
        json["camera"] = address();
        json["type"] = "state";
        break;
    case HX_PROGRESS_UPDATE: {
        if (data == nullptr)
            return;
        const auto& progress = *static_cast<const HX_PROGRESS*>(data);
        json["type"] = "progress";
        json["recorded"] = progress.recorded_frames;
        json["total"] = progress.total_frames;
        json["triggerFrames"] = progress.trigger_frames;
        break;
    }
    case HX_CAPTURE_CHANGE: json["type"] = "capture"; break;
    default: return;
    }
    feed_.post(writeJson(json));
}

bool CameraView::readState(HX_COMMAND& state)
{
    HX_command_init(&state, sizeof(state));
    return HX_command_syn(client_, camera_, &state, &state) == HX_STATUS_OK && (state.flags & HX_FLAG_ERR) == 0;
}

bool CameraView::readCapture(HX_CAPTURE_SETTINGS& record)
{
    HX_capture_settings_init(&record, sizeof(record));
    return HX_setup_capture_syn(client_, camera_, &record, &record) == HX_STATUS_OK &&
           (record.flags & HX_FLAG_ERR) == 0;
}

bool CameraView::geometry(halvex::common::FrameGeometry& geometry, std::string& error)
{
    HX_CAPTURE_SETTINGS record;
    if (!readCapture(record) || halvex::common::bitModeDepth(record.bit_mode) == 0) {
        error = "the image size of " + address() + " could not be read";
        return false;
    }
    geometry = {record.width, record.height, halvex::common::bitModeDepth(record.bit_mode)};
    return true;
}

Reply CameraView::state()
{
    HX_COMMAND state;
    if (!readState(state))
        return errorReply(503, "the camera at " + address() + " did not answer");
    Json::Value json = stateJson(state);
    json["live"] = live_.running();
    HX_PLAYBACK_SETTINGS playback;
    HX_playback_settings_init(&playback, sizeof(playback));
    if (state.code == HX_CAMERA_STATE_REVIEW &&
        HX_setup_playback_syn(client_, camera_, &playback, &playback) == HX_STATUS_OK)
        json["frames"] = playback.current_frame_max + 1;
    return jsonReply(json);
}

Reply CameraView::capture()
{
    HX_CAPTURE_SETTINGS record;
    if (!readCapture(record))
        return errorReply(503, "the capture settings of " + address() + " could not be read");
    return jsonReply(captureJson(record, nullptr));
}

Reply CameraView::setCapture(const std::vector<std::string>& assignments)
{
    HX_CAPTURE_SETTINGS request;
    if (!readCapture(request))
        return errorReply(503, "the capture settings of " + address() + " could not be read");
    for (const std::string& assignment : assignments) {
        std::string error;
        if (!halvex::common::applyCaptureSetting(request, assignment, error))
            return errorReply(400, error);
    }
    HX_CAPTURE_SETTINGS after;
    if (!halvex::common::applyCapture(client_, camera_, request, after))
        return errorReply(503, "the capture settings of " + address() + " could not be set");
    halvex::common::FrameGeometry frame;
    std::string error;
    if (live_.running() && geometry(frame, error))
        live_.start(frame, error);
    Json::Value json = captureJson(after, &request);
    const std::vector<std::string> refused = halvex::common::refusedFields(after, &request);
    for (const std::string& field : refused)
        json["refused"].append(field);
    if ((after.flags & HX_FLAG_ERR) != 0 && refused.empty())
        json["warning"] = "the camera did not confirm the settings";
    return jsonReply(json);
}

Reply CameraView::command(const std::string& name)
{
    if (name == "arm") {
        // The camera leaves live for a recording; the viewer stops lending live buffers first.
        live_.stop();
        return sendCommand(HX_CMD_ARM);
    }
    if (name == "trigger")
        return sendCommand(HX_CMD_TRIGGER);
    if (name == "stop")
        return sendCommand(HX_CMD_LIVE);
    return errorReply(404, "no command '" + name + "' (arm, trigger, stop)");
}

Reply CameraView::sendCommand(uint32_t code)
{
    HX_COMMAND before;
    if (!readState(before))
        return errorReply(503, "the camera at " + address() + " did not answer");
    if ((code == HX_CMD_ARM || code == HX_CMD_TRIGGER) && (before.code_caps & code) == 0)
        return errorReply(409, "the camera does not offer that in state " + stateName(before.code));
    HX_COMMAND in;
    HX_command_init(&in, sizeof(in));
    in.flags = HX_FLAG_SET;
    in.code = code;
    in.code_flags = HX_FLAG_SET;
    HX_COMMAND after = in;
    if (HX_command_syn(client_, camera_, &in, &after) != HX_STATUS_OK ||
        ((after.code_flags | after.flags) & HX_FLAG_ERR) != 0)
        return errorReply(503, "the camera did not confirm the command");
    return state();
}

Reply CameraView::setLive(bool on)
{
    if (!on) {
        live_.stop();
        return state();
    }
    halvex::common::FrameGeometry frame;
    std::string error;
    if (!geometry(frame, error) || !live_.start(frame, error))
        return errorReply(503, error);
    return state();
}

Reply CameraView::liveImage(uint64_t after)
{
    LiveFeed::Frame frame;
    if (!live_.newest(after, std::chrono::steady_clock::now() + kLiveWait, frame))
        return errorReply(504, live_.running() ? "no live image arrived" : "live is off");
    Reply reply = jpegReply(frame.bytes, frame.geometry);
    reply.headers.emplace_back("X-Sequence", std::to_string(frame.sequence));
    reply.headers.emplace_back("X-Frame", std::to_string(frame.frameId));
    char rate[32];
    std::snprintf(rate, sizeof(rate), "%.1f", frame.megabytesPerSecond);
    reply.headers.emplace_back("X-Rate", rate);
    reply.headers.emplace_back("X-Lost-Packets", std::to_string(frame.lostPackets));
    return reply;
}

Reply CameraView::recordedImage(uint32_t frame)
{
    halvex::common::FrameGeometry shape;
    std::string error;
    std::vector<uint8_t> bytes;
    if (!geometry(shape, error) || !frames_.fetch(frame, shape, bytes, error))
        return errorReply(409, error);
    Reply reply = jpegReply(bytes, shape);
    reply.headers.emplace_back("X-Frame", std::to_string(frame));
    return reply;
}

Reply CameraView::jpegReply(const std::vector<uint8_t>& frame, const halvex::common::FrameGeometry& geometry)
{
    std::vector<uint8_t> jpeg;
    std::string error;
    std::lock_guard<std::mutex> guard(encoding_);
    if (!encoder_.jpeg(frame, geometry, jpeg, error))
        return errorReply(500, error);
    return Reply{200, std::string(jpeg.begin(), jpeg.end()), "image/jpeg"};
}

Reply CameraView::download(uint32_t from, uint32_t to)
{
    halvex::common::FrameGeometry shape;
    std::string error;
    if (!geometry(shape, error) || !download_.start(from, to, shape, error))
        return errorReply(409, error);
    return Reply{200, download_.status()};
}

Reply CameraView::downloadStatus()
{
    return Reply{200, download_.status()};
}

} // namespace hxview
